#include "transport/relay/channel_data.h"

#include "transport/rtp/rtp_byte_order.h"

#include <cassert>

namespace relay {

void WriteChannelDataHeader(uint8_t* header, uint16_t channel, size_t length) {
    assert(IsChannel(channel) && length <= 0xFFFF);
    rtp::Write16(header, channel);
    rtp::Write16(header + 2, static_cast<uint16_t>(length));
}

std::optional<ChannelDataView> ParseChannelData(std::span<const uint8_t> bytes) {
    if (bytes.size() < kChannelDataHeaderBytes) return std::nullopt;
    const uint16_t channel = rtp::Read16(bytes.data());
    const size_t length = rtp::Read16(bytes.data() + 2);
    if (!IsChannel(channel) || length > bytes.size() - kChannelDataHeaderBytes) return std::nullopt;
    return ChannelDataView{channel, bytes.subspan(kChannelDataHeaderBytes, length)};
}

}  // namespace relay

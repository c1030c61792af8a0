#include "transport/rtp/rtcp_packet.h"

#include "transport/rtp/rtp_byte_order.h"

namespace rtp {
namespace {
constexpr uint8_t kVersionMask = 0xC0;
constexpr uint8_t kVersion2 = 0x80;
constexpr uint8_t kPaddingBit = 0x20;

size_t AnnouncedLength(const uint8_t* header) { return (size_t{Read16(header + 2)} + 1) * 4; }
}  // namespace

size_t RTCPPacket::GetBodyLength() const {
    const size_t padding = HasPadding() ? data_[length_ - 1] : 0;
    return length_ - kRTCPHeaderBytes - padding;
}

bool RTCPCompoundPacket::Parse(const uint8_t* data, size_t length) {
    data_ = nullptr;
    length_ = offset_ = 0;
    if (length < kRTCPHeaderBytes) return false;
    const uint8_t firstType = data[1];
    if (firstType != kRTCPSenderReport && firstType != kRTCPReceiverReport) return false;
    size_t offset = 0;
    while (offset < length) {
        if (length - offset < kRTCPHeaderBytes) return false;
        const uint8_t* header = data + offset;
        if ((header[0] & kVersionMask) != kVersion2) return false;
        const size_t packetLength = AnnouncedLength(header);
        if (packetLength > length - offset) return false;
        if (header[0] & kPaddingBit) {
            // Only the last packet of a compound may be padded.
            if (offset + packetLength != length) return false;
            const uint8_t padding = header[packetLength - 1];
            if (padding == 0 || padding > packetLength - kRTCPHeaderBytes) return false;
        }
        offset += packetLength;
    }
    data_ = data;
    length_ = length;
    return true;
}

bool RTCPCompoundPacket::GetNextPacket(RTCPPacket* packet) {
    if (offset_ >= length_) return false;
    const size_t packetLength = AnnouncedLength(data_ + offset_);
    *packet = RTCPPacket(data_ + offset_, packetLength);
    offset_ += packetLength;
    return true;
}

}  // namespace rtp

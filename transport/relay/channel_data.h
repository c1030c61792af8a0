// ChannelData: media between a relay client and its server on a bound
// channel, with 4 bytes of overhead instead of a Send or Data indication's 36.
//
//    0                   1                   2                   3
//    0 1 2 3 4 5 6 7 8 9 0 1 2 3 4 5 6 7 8 9 0 1 2 3 4 5 6 7 8 9 0 1
//   +-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+
//   |   channel 0x4000..0x4FFF      |     length of the payload     |
//   +-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+
//   |                    payload ...                                |
//
// Over UDP a datagram may end right after the payload, and any bytes after it
// are ignored; over a stream the payload is padded to 4 bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace relay {

constexpr uint16_t kFirstChannel = 0x4000;
constexpr uint16_t kLastChannel = 0x4FFF;
constexpr size_t kChannelDataHeaderBytes = 4;

constexpr bool IsChannel(uint16_t number) { return number >= kFirstChannel && number <= kLastChannel; }

// Fills the 4-byte header for a payload of `length` bytes (at most 0xFFFF).
void WriteChannelDataHeader(uint8_t* header, uint16_t channel, size_t length);

struct ChannelDataView {
    uint16_t channel;
    std::span<const uint8_t> payload;
};

// A ChannelData message at the start of `bytes`: nothing when the channel is
// out of range or the payload does not fit.
std::optional<ChannelDataView> ParseChannelData(std::span<const uint8_t> bytes);

}  // namespace relay

// What a datagram on a session's socket is, by its first byte alone: STUN
// (0x00..0x03), ChannelData (0x40..0x4F: the channel numbers' top byte) or
// RTP/RTCP (version 2: 0x80..0xBF). Anything else is dropped.
#pragma once

#include <cstddef>
#include <cstdint>

namespace relay {

enum class DatagramKind : uint8_t { kStun, kChannelData, kRtp, kOther };

constexpr DatagramKind Classify(uint8_t firstByte) {
    if (firstByte <= 0x03) return DatagramKind::kStun;
    if (firstByte >= 0x40 && firstByte <= 0x4F) return DatagramKind::kChannelData;
    if (firstByte >= 0x80 && firstByte <= 0xBF) return DatagramKind::kRtp;
    return DatagramKind::kOther;
}

constexpr DatagramKind Classify(const uint8_t* data, size_t length) {
    return length == 0 ? DatagramKind::kOther : Classify(data[0]);
}

}  // namespace relay

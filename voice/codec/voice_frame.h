// The 50-byte voice frame, the unit the engine carries between components.
//
//   0                   1                   2
//   0 1 2 3 4 5 6 7 8 9 0 1 2 3 4 5 6 7 8 9 0 ...                 49
//  +-------------------------------+--------------------------------+
//  |  sequence number (16 bits,    |  one Opus packet, exactly 48   |
//  |  big-endian, +1 per frame,    |  bytes: 30 ms of 16 kHz mono   |
//  |  wraps at 65536)              |  as three 10 ms frames at      |
//  |                               |  constant bit rate (code 3),   |
//  |                               |  filled to 48 bytes with Opus  |
//  |                               |  padding                       |
//  +-------------------------------+--------------------------------+
//
// One frame stands for 30 ms of sound: 480 samples, 240 ticks of the voice
// session's 8 kHz clock. Any Opus decoder reads bytes 2..49 as they are.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace voice {

inline constexpr int kSampleRateHz = 16000;
inline constexpr int kFrameMs = 30;
inline constexpr int kFrameSamples = kSampleRateHz * kFrameMs / 1000;  // 480
inline constexpr int kOpusSubframeSamples = kFrameSamples / 3;         // 10 ms
inline constexpr size_t kFrameBytes = 50;
inline constexpr size_t kSequenceBytes = 2;
inline constexpr size_t kOpusPacketBytes = kFrameBytes - kSequenceBytes;  // 48

struct FrameView {
    uint16_t sequence;
    std::span<const uint8_t, kOpusPacketBytes> opus;
};

// Splits a received frame; nothing when the length is not 50 or the Opus part
// is not one well-formed packet of exactly 30 ms.
std::optional<FrameView> ParseFrame(const uint8_t* data, size_t length);

// Writes the sequence number in front of a 48-byte Opus packet.
void WriteFrameHeader(uint16_t sequence, uint8_t* frame);

// Sequence order across the wrap: true when a comes after b.
inline bool SequenceAfter(uint16_t a, uint16_t b) { return static_cast<int16_t>(a - b) > 0; }
// Signed distance a - b across the wrap.
inline int SequenceDistance(uint16_t a, uint16_t b) { return static_cast<int16_t>(a - b); }

}  // namespace voice

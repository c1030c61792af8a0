// The video fragment: how one coded frame travels as RTP payloads, cut by the
// sender and joined by the receiver.
//
//    0        1        2                                   2 + n
//   +--------+--------+-----------------------------------+
//   | count  | index  | frame bytes index*536 ... +n      |   n <= 536
//   +--------+--------+-----------------------------------+
//
// Every fragment of a frame shares the frame's RTP timestamp, which advances
// by 6000 (90 kHz units) from one frame to the next; the last fragment
// carries what is left, n = frame length - index * 536.
//
// The two sides set different limits, and both are part of the format: the
// sender numbers up to 255 fragments (the count is one byte), enough for any
// frame the encoder hands on (at most 102,400 bytes, 192 fragments); the
// receiver collects only frames of at most 32 fragments and joins at most
// 32,768 bytes, which every picture at 160 x 120 stays well within. A frame
// the receiver will not collect is dropped there, never cut short.
#pragma once

#include <cstddef>
#include <cstdint>

namespace video_fragments {

constexpr uint32_t kTimestampPerFrame = 6000;
constexpr size_t kHeaderBytes = 2;
constexpr size_t kMaxDataBytes = 536;
constexpr size_t kMaxFragmentBytes = kHeaderBytes + kMaxDataBytes;
// Sender limit: the count travels in one byte.
constexpr int kMaxSentFragments = 255;
// Receiver limits.
constexpr int kMaxJoinedFragments = 32;
constexpr size_t kMaxJoinedFrameBytes = 32768;

// Fragments a frame of `frameBytes` is cut into (0 for an empty frame), or
// -1 when the frame is too long to number.
int FragmentCount(size_t frameBytes);

// Writes fragment `index` of `frame` (cut into `count`) to `out`, which holds
// kMaxFragmentBytes; returns the fragment's length.
size_t CutFragment(const uint8_t* frame, size_t frameBytes, int count, int index, uint8_t* out);

struct FragmentHeader {
    uint8_t count;
    uint8_t index;
};

// False for a payload too short to carry the header.
bool ReadHeader(const uint8_t* payload, size_t length, FragmentHeader* header);

// The frame bytes a fragment carries, after its header.
inline const uint8_t* FragmentData(const uint8_t* payload) { return payload + kHeaderBytes; }
inline size_t FragmentDataLength(size_t payloadLength) { return payloadLength - kHeaderBytes; }

}  // namespace video_fragments

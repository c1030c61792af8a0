// Coded frames as lists of fragment payloads, for tests: cut as the sending
// engine cuts them, or split into any number of parts.
#pragma once

#include <cstdint>
#include <vector>

namespace codec_test {

// The video timestamp advances by this much per frame (90 kHz units).
constexpr uint32_t kTimestampPerFrame = 6000;

using Payload = std::vector<uint8_t>;

// Fragments of at most 536 bytes of frame data each, in index order.
std::vector<Payload> CutIntoFragments(const uint8_t* frame, int length);
std::vector<Payload> CutIntoFragments(const std::vector<uint8_t>& frame);
// Exactly `count` fragments of near-equal size, whatever the frame's length.
std::vector<Payload> SplitIntoFragments(const std::vector<uint8_t>& frame, int count);

}  // namespace codec_test

// Synthetic 160 x 120 BGR pictures, bottom row first, and picture comparison.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace codec_test {

using Picture = std::vector<uint8_t>;

// A smooth scene with a bright square moving across it; rows differ from top
// to bottom, so a picture turned over no longer matches.
Picture MovingPicture(int frameNumber);
// The same picture with its rows in reverse order.
Picture FlipRows(const uint8_t* picture, int width, int height);
// Peak signal-to-noise ratio in dB over `bytes` 8-bit samples.
double Psnr(const uint8_t* a, const uint8_t* b, size_t bytes);

}  // namespace codec_test

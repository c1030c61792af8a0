// The most bytes the library can write for one coded picture. It writes a
// frame without any limit on the output, so the encoder's buffer must hold
// the worst case the bitstream syntax allows, not a typical frame.
#pragma once

#include <cstdint>

namespace codec {

constexpr int kMacroblockPixels = 16;
constexpr int kBlocksPerMacroblock = 6;  // four luma, two chroma
constexpr int kCoefficientsPerBlock = 64;
// The longest code for one coefficient: the fixed-length escape,
// 7 + 2 + 1 + 6 + 1 + 12 + 1 bits.
constexpr int kLongestCoefficientBits = 30;
// Generous room for a macroblock's own fields: type, coded-block pattern,
// quantiser change and four motion vectors.
constexpr int kMacroblockHeaderBitsBound = 256;
// Generous room for the sequence, object, layer and picture headers and the
// library's user data, plus its whole-word writes at the end.
constexpr int kStreamHeaderBytesBound = 1024;

constexpr int64_t MaxCodedFrameBytes(int width, int height) {
    const int64_t macroblocks = int64_t{(width + kMacroblockPixels - 1) / kMacroblockPixels} *
                                ((height + kMacroblockPixels - 1) / kMacroblockPixels);
    constexpr int64_t bitsPerMacroblock =
        int64_t{kBlocksPerMacroblock} * kCoefficientsPerBlock * kLongestCoefficientBits + kMacroblockHeaderBitsBound;
    return macroblocks * bitsPerMacroblock / 8 + kStreamHeaderBytesBound;
}

}  // namespace codec

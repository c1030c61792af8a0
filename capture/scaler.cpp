#include "capture/scaler.h"

#include <algorithm>
#include <cstddef>

namespace {

constexpr int kFractionBits = 16;
constexpr int64_t kOne = int64_t{1} << kFractionBits;
constexpr int kWeightShift = 8;
constexpr int kWeightMask = 255;
constexpr int kBytesPerPixel = 3;

// Floor of the interpolation between a and b with an 8-bit weight; the
// 16-bit wrap-around of a * 256 + (b - a) * w gives exactly this.
inline uint8_t Blend(uint32_t a, uint32_t b, uint32_t weight) {
    return static_cast<uint8_t>((a * (256 - weight) + b * weight) >> kWeightShift);
}

// The step is truncated before 1 is added, so the last sample lies just
// inside the source; positions are kept in 64 bits so that no size can
// overflow them.
inline int64_t Step(int32_t sourceSize, int32_t targetSize) {
    return (sourceSize * kOne - kOne) / targetSize + 1;
}

}  // namespace

void ScaleBilinear(const ImageDesc& dst, const ImageDesc& src) {
    if (dst.width == 0 || dst.height == 0 || src.width < 2 || src.height < 2) return;
    const int64_t xstep = Step(src.width, dst.width);
    const int64_t ystep = Step(src.height, dst.height);
    // Extreme enlargements could place a sample on the last column or row;
    // its right or lower neighbour is then the sample itself.
    const int64_t lastLeft = src.width - 2;
    const int64_t lastTop = src.height - 2;
    for (int32_t y = 0; y < dst.height; ++y) {
        const int64_t sy = y * ystep;
        const uint32_t wy = (sy >> kWeightShift) & kWeightMask;
        const int64_t top = sy >> kFractionBits;
        const uint8_t* r0 = src.data + std::min(top, lastTop + 1) * src.stride;
        const uint8_t* r1 = top <= lastTop ? r0 + src.stride : r0;
        uint8_t* out = dst.data + static_cast<ptrdiff_t>(y) * dst.stride;
        for (int32_t x = 0; x < dst.width; ++x) {
            const int64_t sx = x * xstep;
            const uint32_t wx = (sx >> kWeightShift) & kWeightMask;
            const int64_t left = sx >> kFractionBits;
            const ptrdiff_t a = std::min(left, lastLeft + 1) * kBytesPerPixel;
            const ptrdiff_t b = left <= lastLeft ? a + kBytesPerPixel : a;
            for (int c = 0; c < kBytesPerPixel; ++c) {
                const uint8_t upper = Blend(r0[a + c], r0[b + c], wx);
                const uint8_t lower = Blend(r1[a + c], r1[b + c], wx);
                out[x * kBytesPerPixel + c] = Blend(upper, lower, wy);
            }
        }
    }
}

#include "capture/scaler.h"

#include <algorithm>
#include <cstddef>

namespace {

constexpr int kFractionBits = 16;
constexpr int64_t kOne = int64_t{1} << kFractionBits;
constexpr int kWeightShift = 8;
constexpr int kWeightMask = 255;
constexpr int kBytesPerPixel = 3;
// Target columns interpolated per pass; two source rows of them live on the stack.
constexpr int kChunkPixels = 512;
constexpr int kChunkBytes = kChunkPixels * kBytesPerPixel;
// Bytes blended at once by the vertical pass.
constexpr int kLanes = 16;

using Bytes = uint8_t __attribute__((vector_size(kLanes)));
using Words = uint16_t __attribute__((vector_size(2 * kLanes)));

// Floor of the interpolation between a and b with an 8-bit weight; the
// 16-bit wrap-around of a * 256 + (b - a) * w gives exactly this.
inline uint8_t Blend(uint32_t a, uint32_t b, uint32_t weight) {
    return static_cast<uint8_t>((a * (256 - weight) + b * weight) >> kWeightShift);
}

// The step is truncated before 1 is added, so the last sample lies just
// inside the source; positions are kept in 64 bits so that no size can
// overflow them.
inline int64_t Step(int32_t sourceSize, int32_t targetSize) { return (sourceSize * kOne - kOne) / targetSize + 1; }

// One source row interpolated at `count` columns from position sx on.
// Extreme enlargements could place a sample on the last column; its right
// neighbour is then the sample itself.
void InterpolateRow(const uint8_t* row, int32_t rowWidth, int64_t sx, int64_t xstep, int count, uint8_t* out) {
    const int64_t lastLeft = rowWidth - 2;
    for (int i = 0; i < count; ++i, sx += xstep, out += kBytesPerPixel) {
        const int64_t left = sx >> kFractionBits;
        const uint32_t wx = (sx >> kWeightShift) & kWeightMask;
        const uint8_t* a = row + std::min(left, lastLeft + 1) * kBytesPerPixel;
        const uint8_t* b = left <= lastLeft ? a + kBytesPerPixel : a;
        out[0] = Blend(a[0], b[0], wx);
        out[1] = Blend(a[1], b[1], wx);
        out[2] = Blend(a[2], b[2], wx);
    }
}

// Blends two interpolated rows with one weight, many bytes at a time.
void BlendRows(const uint8_t* upper, const uint8_t* lower, uint32_t wy, int bytes, uint8_t* out) {
    int i = 0;
    const auto upperWeight = static_cast<uint16_t>(256 - wy);
    const auto lowerWeight = static_cast<uint16_t>(wy);
    for (; i + kLanes <= bytes; i += kLanes) {
        Bytes u;
        Bytes l;
        __builtin_memcpy(&u, upper + i, kLanes);
        __builtin_memcpy(&l, lower + i, kLanes);
        const Words sum =
            __builtin_convertvector(u, Words) * upperWeight + __builtin_convertvector(l, Words) * lowerWeight;
        const Bytes blended = __builtin_convertvector(sum >> kWeightShift, Bytes);
        __builtin_memcpy(out + i, &blended, kLanes);
    }
    for (; i < bytes; ++i) out[i] = Blend(upper[i], lower[i], wy);
}

}  // namespace

// Each target row blends two source rows interpolated across; a source row
// interpolated for one target row is kept for the next when it needs it.
void ScaleBilinear(const ImageDesc& dst, const ImageDesc& src) {
    if (dst.width == 0 || dst.height == 0 || src.width < 2 || src.height < 2) return;
    const int64_t xstep = Step(src.width, dst.width);
    const int64_t ystep = Step(src.height, dst.height);
    const int64_t lastTop = src.height - 2;
    uint8_t rows[2][kChunkBytes];
    for (int32_t first = 0; first < dst.width; first += kChunkPixels) {
        const int count = std::min(kChunkPixels, dst.width - first);
        // rows[r & 1] holds source row r interpolated, once computed.
        int64_t cached[2] = {-1, -1};
        auto interpolated = [&](int64_t r) {
            uint8_t* row = rows[r & 1];
            if (cached[r & 1] != r) {
                InterpolateRow(src.data + r * src.stride, src.width, first * xstep, xstep, count, row);
                cached[r & 1] = r;
            }
            return row;
        };
        for (int32_t y = 0; y < dst.height; ++y) {
            const int64_t sy = y * ystep;
            const uint32_t wy = (sy >> kWeightShift) & kWeightMask;
            const int64_t top = std::min(sy >> kFractionBits, lastTop + 1);
            const uint8_t* upper = interpolated(top);
            // Extreme enlargements could place a sample on the last row: its
            // lower neighbour is then the sample itself.
            const uint8_t* lower = top <= lastTop ? interpolated(top + 1) : upper;
            uint8_t* out = dst.data + static_cast<ptrdiff_t>(y) * dst.stride + first * kBytesPerPixel;
            BlendRows(upper, lower, wy, count * kBytesPerPixel, out);
        }
    }
}

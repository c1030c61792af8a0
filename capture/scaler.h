// Bilinear scaling of 24-bit pictures in integer fixed point.
#pragma once

#include <cstdint>

// One 24-bit picture: rows `stride` bytes apart.
struct ImageDesc {
    uint8_t* data;
    int32_t stride;
    int32_t width;
    int32_t height;
};

// Scales src into dst with source positions in 16.16 fixed point and 8-bit
// weights; every result is the floor of the exact interpolation. Does
// nothing when dst is empty or src is narrower or lower than 2 pixels.
void ScaleBilinear(const ImageDesc& dst, const ImageDesc& src);

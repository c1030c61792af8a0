// Pictures as a stamping camera makes them, for the room's measurement tests.
#pragma once

#include "testbed/measurement/frame_stamp.h"
#include "testbed/measurement/picture_constants.h"

#include <cstdint>
#include <vector>

namespace room_testing {

constexpr uint8_t kBlack = 0;
constexpr uint8_t kWhite = 255;

// A 160 x 120 BGR picture, bottom row first, filled with `background`, with
// `number` stamped into its top eighth.
inline std::vector<uint8_t> StampedPicture(uint16_t number, uint8_t background = 128) {
    std::vector<uint8_t> picture(room::kPictureBytes, background);
    for (int y = 0; y < room::kStampBandRows; ++y) {
        const int row = room::kPictureHeight - 1 - y;  // top rows are last in memory
        for (int x = 0; x < room::kPictureWidth; ++x) {
            const int bit = room::kStampBits - 1 - x / room::kStampBlockWidth;
            const uint8_t value = (number >> bit) & 1 ? kWhite : kBlack;
            for (int c = 0; c < room::kBytesPerPixel; ++c)
                picture[row * room::kPictureRowBytes + x * room::kBytesPerPixel + c] = value;
        }
    }
    return picture;
}

}  // namespace room_testing

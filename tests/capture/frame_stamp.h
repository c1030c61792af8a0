// Reads the frame number a stamped synthetic camera draws into the top
// eighth of its pictures: 16 blocks, most significant bit first, white 1.
#pragma once

#include "platform/media/media_types.h"

#include <cstdint>

namespace capture_testing {

// The top band's middle row is stored near the end: rows are bottom-up.
inline const uint8_t* StampRow(const uint8_t* frame, int width, int height) {
    const int pictureRow = height / 16;
    return frame + static_cast<size_t>(height - 1 - pictureRow) * media::Stride24(width);
}

inline bool IsBright(const uint8_t* pixel) { return pixel[0] + pixel[1] + pixel[2] > 3 * 128; }

inline uint32_t ReadFrameStamp(const uint8_t* frame, int width, int height) {
    const uint8_t* row = StampRow(frame, width, height);
    uint32_t number = 0;
    for (int bit = 0; bit < 16; ++bit) {
        const int centre = (2 * bit + 1) * width / 32;
        number = (number << 1) | (IsBright(row + 3 * centre) ? 1u : 0u);
    }
    return number;
}

}  // namespace capture_testing

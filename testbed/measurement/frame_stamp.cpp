#include "testbed/measurement/frame_stamp.h"

#include "testbed/measurement/picture_constants.h"

#include <algorithm>
#include <cmath>

namespace room {
namespace {
// Mean of all colour bytes in the centre of stamp block `bit` (0 = leftmost).
int BlockBrightness(const uint8_t* picture, int bit) {
    // The top row of the picture is the last row in memory.
    const int firstRow = kPictureHeight - kStampBandRows + kStampMarginRows;
    const int lastRow = kPictureHeight - 1 - kStampMarginRows;
    const int firstColumn = bit * kStampBlockWidth + kStampMarginColumns;
    const int lastColumn = (bit + 1) * kStampBlockWidth - 1 - kStampMarginColumns;
    const int bytesPerRow = (lastColumn - firstColumn + 1) * kBytesPerPixel;
    long sum = 0;
    for (int row = firstRow; row <= lastRow; ++row) {
        const uint8_t* bytes = picture + row * kPictureRowBytes + firstColumn * kBytesPerPixel;
        for (int i = 0; i < bytesPerRow; ++i) sum += bytes[i];
    }
    return static_cast<int>(sum / (long{bytesPerRow} * (lastRow - firstRow + 1)));
}
}  // namespace

std::optional<uint16_t> ReadFrameStamp(const uint8_t* picture) {
    uint16_t number = 0;
    for (int bit = 0; bit < kStampBits; ++bit) {
        const int brightness = BlockBrightness(picture, bit);
        number = static_cast<uint16_t>(number << 1);
        if (brightness >= kStampBrightAtLeast)
            number |= 1;
        else if (brightness > kStampDarkAtMost)
            return std::nullopt;
    }
    return number;
}

double PeakSignalToNoiseDb(const uint8_t* shown, const uint8_t* source, size_t length) {
    double squaredError = 0;
    for (size_t i = 0; i < length; ++i) {
        const int difference = int{shown[i]} - int{source[i]};
        squaredError += static_cast<double>(difference * difference);
    }
    if (squaredError == 0 || length == 0) return kPsnrOfIdenticalPicturesDb;
    const double meanSquaredError = squaredError / static_cast<double>(length);
    return std::min(kPsnrOfIdenticalPicturesDb, 10.0 * std::log10(255.0 * 255.0 / meanSquaredError));
}

}  // namespace room

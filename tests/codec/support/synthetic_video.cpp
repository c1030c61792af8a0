#include "tests/codec/support/synthetic_video.h"

#include "codec/codec_interfaces.h"

#include <cmath>
#include <cstring>
#include <limits>

namespace codec_test {
namespace {
constexpr int kSquareSide = 24;
constexpr int kSquareStepPixels = 3;
constexpr double kPeak = 255.0;
}  // namespace

Picture MovingPicture(int frameNumber) {
    Picture picture(kVideoFrameBytes);
    const int squareX = (frameNumber * kSquareStepPixels) % (kVideoWidth - kSquareSide);
    const int squareY = 40 + (frameNumber % 20);
    for (int row = 0; row < kVideoHeight; ++row) {  // row 0 is the bottom row
        for (int x = 0; x < kVideoWidth; ++x) {
            uint8_t* pixel = &picture[(row * kVideoWidth + x) * 3];
            const bool inSquare =
                x >= squareX && x < squareX + kSquareSide && row >= squareY && row < squareY + kSquareSide;
            pixel[0] = static_cast<uint8_t>(40 + x);        // blue grows to the right
            pixel[1] = static_cast<uint8_t>(20 + row * 2);  // green grows upward
            pixel[2] = static_cast<uint8_t>(inSquare ? 230 : 60);
        }
    }
    return picture;
}

Picture FlipRows(const uint8_t* picture, int width, int height) {
    const size_t rowBytes = static_cast<size_t>(width) * 3;
    Picture flipped(rowBytes * height);
    for (int row = 0; row < height; ++row)
        std::memcpy(&flipped[row * rowBytes], picture + (height - 1 - row) * rowBytes, rowBytes);
    return flipped;
}

double Psnr(const uint8_t* a, const uint8_t* b, size_t bytes) {
    double squaredError = 0;
    for (size_t i = 0; i < bytes; ++i) {
        const double difference = static_cast<double>(a[i]) - static_cast<double>(b[i]);
        squaredError += difference * difference;
    }
    if (squaredError == 0) return std::numeric_limits<double>::infinity();
    return 10.0 * std::log10(kPeak * kPeak * static_cast<double>(bytes) / squaredError);
}

}  // namespace codec_test

#include "testbed/measurement/frame_stamp.h"
#include "tests/tools/room/stamped_picture.h"

#include <gtest/gtest.h>

#include <random>

namespace {
using room::kPictureBytes;
using room::ReadFrameStamp;
using room_testing::StampedPicture;

TEST(FrameStamp, ReadsEveryBitMostSignificantFirst) {
    for (const uint16_t number : {0x0000, 0x0001, 0x8000, 0xFFFF, 0xA5C3, 0x1234}) {
        const auto picture = StampedPicture(number);
        EXPECT_EQ(number, ReadFrameStamp(picture.data())) << std::hex << number;
    }
}

TEST(FrameStamp, SurvivesCodingNoiseAndBlurredBlockEdges) {
    auto picture = StampedPicture(0xB00C);
    std::mt19937 random(7);
    std::uniform_int_distribution<int> noise(-40, 40);
    for (uint8_t& byte : picture) byte = static_cast<uint8_t>(std::clamp(byte + noise(random), 0, 255));
    // Smear the edges of every block as a coder would.
    for (int y = 0; y < room::kStampBandRows; ++y)
        for (int block = 1; block < room::kStampBits; ++block)
            for (int c = 0; c < room::kBytesPerPixel; ++c) {
                const int row = room::kPictureHeight - 1 - y;
                picture[row * room::kPictureRowBytes + (block * room::kStampBlockWidth) * room::kBytesPerPixel + c] =
                    128;
            }
    EXPECT_EQ(0xB00C, ReadFrameStamp(picture.data()));
}

TEST(FrameStamp, GreyBlockMeansNoStamp) {
    auto picture = StampedPicture(0xFFFF);
    // Block 5 grey: neither dark nor bright.
    for (int y = 0; y < room::kStampBandRows; ++y)
        for (int x = 5 * room::kStampBlockWidth; x < 6 * room::kStampBlockWidth; ++x)
            for (int c = 0; c < room::kBytesPerPixel; ++c)
                picture[(room::kPictureHeight - 1 - y) * room::kPictureRowBytes + x * room::kBytesPerPixel + c] = 128;
    EXPECT_EQ(std::nullopt, ReadFrameStamp(picture.data()));
}

TEST(FrameStamp, IsReadFromTheTopOfABottomUpPicture) {
    // The same stamp in the first rows in memory is the picture's bottom: no stamp there.
    const auto upright = StampedPicture(0x00FF);
    std::vector<uint8_t> flipped(kPictureBytes);
    for (int row = 0; row < room::kPictureHeight; ++row)
        std::copy_n(upright.begin() + row * room::kPictureRowBytes, room::kPictureRowBytes,
                    flipped.begin() + (room::kPictureHeight - 1 - row) * room::kPictureRowBytes);
    EXPECT_EQ(std::nullopt, ReadFrameStamp(flipped.data()));
}

TEST(PeakSignalToNoise, FollowsTheMeanSquaredError) {
    const std::vector<uint8_t> source(kPictureBytes, 100);
    EXPECT_EQ(room::kPsnrOfIdenticalPicturesDb, room::PeakSignalToNoiseDb(source.data(), source.data(), kPictureBytes));
    const std::vector<uint8_t> offByOne(kPictureBytes, 101);  // MSE 1: 20 log10(255)
    EXPECT_NEAR(48.13, room::PeakSignalToNoiseDb(offByOne.data(), source.data(), kPictureBytes), 0.01);
    const std::vector<uint8_t> black(kPictureBytes, 0), white(kPictureBytes, 255);
    EXPECT_NEAR(0.0, room::PeakSignalToNoiseDb(black.data(), white.data(), kPictureBytes), 1e-9);
}
}  // namespace

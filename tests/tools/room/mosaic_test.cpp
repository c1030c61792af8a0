#include "testbed/measurement/picture_constants.h"
#include "tools/room/mosaic.h"
#include "tools/room/room_constants.h"

#include <gtest/gtest.h>
#include <png.h>
#include <unistd.h>

#include <array>
#include <filesystem>

namespace {
using room::kMosaicGapPixels;
using room::kPictureHeight;
using room::kPictureWidth;
using Rgb = std::array<uint8_t, 3>;

// A BGR picture, bottom row first, whose top row is red and the rest blue.
std::vector<uint8_t> RedTopBlueRest() {
    std::vector<uint8_t> picture(room::kPictureBytes);
    for (int row = 0; row < kPictureHeight; ++row)
        for (int x = 0; x < kPictureWidth; ++x) {
            uint8_t* bgr = &picture[row * room::kPictureRowBytes + x * room::kBytesPerPixel];
            const bool top = row == kPictureHeight - 1;
            bgr[0] = top ? 0 : 255;
            bgr[1] = 0;
            bgr[2] = top ? 255 : 0;
        }
    return picture;
}

Rgb PixelAt(const std::vector<uint8_t>& rgb, int width, int x, int y) {
    const size_t at = (static_cast<size_t>(y) * width + x) * 3;
    return {rgb[at], rgb[at + 1], rgb[at + 2]};
}

TEST(Mosaic, PutsTilesUprightInRgbWithGreyGaps) {
    room::Mosaic mosaic(2, 3);
    EXPECT_EQ(room::kMosaicLabelPixels + 3 * kPictureWidth + 4 * kMosaicGapPixels, mosaic.Width());
    EXPECT_EQ(room::kMosaicLabelPixels + 2 * kPictureHeight + 3 * kMosaicGapPixels, mosaic.Height());
    mosaic.Put(1, 2, RedTopBlueRest());
    const int left = room::kMosaicLabelPixels + kMosaicGapPixels + 2 * (kPictureWidth + kMosaicGapPixels);
    const int top = room::kMosaicLabelPixels + kMosaicGapPixels + kPictureHeight + kMosaicGapPixels;
    EXPECT_EQ(Rgb({255, 0, 0}), PixelAt(mosaic.Rgb(), mosaic.Width(), left, top));
    EXPECT_EQ(Rgb({0, 0, 255}), PixelAt(mosaic.Rgb(), mosaic.Width(), left + 5, top + 1));
    const uint8_t grey = room::kMosaicGapGrey;
    EXPECT_EQ(Rgb({grey, grey, grey}), PixelAt(mosaic.Rgb(), mosaic.Width(), left - 1, top));
    EXPECT_EQ(Rgb({grey, grey, grey}), PixelAt(mosaic.Rgb(), mosaic.Width(), 40, 40));  // empty tile
}

// White pixels in a rectangle of the picture.
int WhiteIn(const room::Mosaic& mosaic, int left, int top, int width, int height) {
    int white = 0;
    for (int y = top; y < top + height; ++y)
        for (int x = left; x < left + width; ++x)
            white += PixelAt(mosaic.Rgb(), mosaic.Width(), x, y) == Rgb({255, 255, 255});
    return white;
}

TEST(Mosaic, NumbersRowsAndColumnsAndCrossesOutFailedPairs) {
    room::Mosaic mosaic(2, 2);
    const int band = room::kMosaicLabelPixels;
    const int second = band + 2 * kMosaicGapPixels + kPictureWidth;  // left of column 1
    EXPECT_EQ(0, WhiteIn(mosaic, 0, 0, mosaic.Width(), band));
    mosaic.LabelColumn(1, 2);
    EXPECT_EQ(0, WhiteIn(mosaic, 0, 0, second, band));  // nothing over column 0
    EXPECT_GT(WhiteIn(mosaic, second, 0, kPictureWidth, band), 0);
    mosaic.LabelRow(0, 16);
    EXPECT_GT(WhiteIn(mosaic, 0, band, band, kPictureHeight), 0);

    mosaic.MarkFailed(1, 0);
    const int left = band + kMosaicGapPixels;
    const int top = band + 2 * kMosaicGapPixels + kPictureHeight;
    const Rgb red{230, 30, 30};
    EXPECT_EQ(red, PixelAt(mosaic.Rgb(), mosaic.Width(), left + kPictureWidth / 2, top + kPictureHeight / 2));
    EXPECT_EQ(red, PixelAt(mosaic.Rgb(), mosaic.Width(), left, top));
    const uint8_t grey = room::kMosaicGapGrey;
    EXPECT_EQ(Rgb({grey, grey, grey}), PixelAt(mosaic.Rgb(), mosaic.Width(), left + kPictureWidth / 2, top + 5));
}

TEST(Mosaic, WritesAPngThatReadsBackTheSame) {
    room::Mosaic mosaic(1, 2);
    mosaic.Put(0, 0, RedTopBlueRest());
    const std::string path =
        (std::filesystem::temp_directory_path() / ("room-mosaic-" + std::to_string(getpid()) + ".png")).string();
    std::string error;
    ASSERT_TRUE(mosaic.WritePng(path, &error)) << error;

    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    ASSERT_TRUE(png_image_begin_read_from_file(&image, path.c_str()));
    image.format = PNG_FORMAT_RGB;
    std::vector<uint8_t> pixels(PNG_IMAGE_SIZE(image));
    ASSERT_TRUE(png_image_finish_read(&image, nullptr, pixels.data(), 0, nullptr));
    std::filesystem::remove(path);
    EXPECT_EQ(static_cast<png_uint_32>(mosaic.Width()), image.width);
    EXPECT_EQ(static_cast<png_uint_32>(mosaic.Height()), image.height);
    EXPECT_EQ(mosaic.Rgb(), pixels);
}

TEST(Mosaic, CannotWriteIntoAMissingDirectory) {
    std::string error;
    EXPECT_FALSE(room::Mosaic(1, 1).WritePng("/nonexistent-room-dir/mosaic.png", &error));
    EXPECT_NE(std::string::npos, error.find("/nonexistent-room-dir/mosaic.png"));
}
}  // namespace

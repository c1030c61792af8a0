#include "capture/scaler.h"

#include "platform/media/media_types.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace {

struct Picture {
    Picture(int width, int height, int padding)
        : stride(media::Stride24(width) + padding), width(width), height(height) {
        bytes.resize(static_cast<size_t>(stride) * height);
    }
    ImageDesc Desc() { return {bytes.data(), stride, width, height}; }

    int32_t stride;
    int32_t width;
    int32_t height;
    std::vector<uint8_t> bytes;
};

// The formula evaluated literally: 16.16 positions, 8-bit weights, every
// expression in 16-bit unsigned arithmetic with wrap-around.
void ReferenceScale(const ImageDesc& dst, const ImageDesc& src) {
    if (dst.width == 0 || dst.height == 0 || src.width < 2 || src.height < 2) return;
    const int32_t xstep = ((src.width * 65536 - 65536) / dst.width) + 1;
    const int32_t ystep = ((src.height * 65536 - 65536) / dst.height) + 1;
    auto lerp = [](uint16_t a, uint16_t b, uint16_t w) {
        const auto sum = static_cast<uint16_t>(static_cast<uint16_t>(a * 256) +
                                               static_cast<uint16_t>(static_cast<uint16_t>(b - a) * w));
        return static_cast<uint16_t>(sum >> 8);
    };
    for (int y = 0; y < dst.height; ++y) {
        const int32_t sy = y * ystep;
        const auto wy = static_cast<uint16_t>((sy >> 8) & 255);
        const uint8_t* r0 = src.data + (sy >> 16) * src.stride;
        const uint8_t* r1 = r0 + src.stride;
        for (int x = 0; x < dst.width; ++x) {
            const int32_t sx = x * xstep;
            const int x0 = sx >> 16;
            const auto wx = static_cast<uint16_t>((sx >> 8) & 255);
            for (int c = 0; c < 3; ++c) {
                const uint16_t top = lerp(r0[3 * x0 + c], r0[3 * x0 + 3 + c], wx);
                const uint16_t bottom = lerp(r1[3 * x0 + c], r1[3 * x0 + 3 + c], wx);
                dst.data[y * dst.stride + 3 * x + c] = static_cast<uint8_t>(lerp(top, bottom, wy));
            }
        }
    }
}

void Fill(Picture& picture, std::mt19937& random) {
    for (size_t i = 0; i < picture.bytes.size(); i += 4) {
        const uint32_t bits = random();
        for (size_t k = 0; k < 4 && i + k < picture.bytes.size(); ++k) picture.bytes[i + k] = bits >> (8 * k);
    }
}

// The formula samples inside the source only for such sizes (the last
// sample's right or lower neighbour must exist).
bool SamplesStayInside(int srcSize, int dstSize) {
    return static_cast<int64_t>(dstSize) * (dstSize - 1) < static_cast<int64_t>(srcSize - 1) * 65536;
}

void ExpectMatchesReference(int srcWidth, int srcHeight, int dstWidth, int dstHeight, std::mt19937& random) {
    Picture source(srcWidth, srcHeight, static_cast<int>(random() % 9));
    Fill(source, random);
    const int padding = static_cast<int>(random() % 5);
    Picture ours(dstWidth, dstHeight, padding);
    Picture expected(dstWidth, dstHeight, padding);
    ScaleBilinear(ours.Desc(), source.Desc());
    ReferenceScale(expected.Desc(), source.Desc());
    ASSERT_EQ(ours.bytes, expected.bytes) << srcWidth << "x" << srcHeight << " -> " << dstWidth << "x" << dstHeight;
}

TEST(ScaleBilinear, MatchesTheFormulaForCameraSizes) {
    std::mt19937 random(20240611);
    const int sizes[][2] = {{320, 240}, {176, 144}, {640, 480}, {352, 288}, {128, 96}, {160, 120}, {1366, 768}};
    for (const auto& size : sizes) {
        for (int round = 0; round < 3; ++round) ExpectMatchesReference(size[0], size[1], 160, 120, random);
    }
}

TEST(ScaleBilinear, MatchesTheFormulaForOddSizesBothWays) {
    std::mt19937 random(7);
    for (int round = 0; round < 100; ++round) {
        const int srcWidth = 2 + static_cast<int>(random() % 600);
        const int srcHeight = 2 + static_cast<int>(random() % 400);
        // Beyond 512 columns the scaler works in several passes.
        const int dstWidth = 1 + static_cast<int>(random() % (round % 10 == 0 ? 1200 : 240));
        const int dstHeight = 1 + static_cast<int>(random() % 180);
        if (!SamplesStayInside(srcWidth, dstWidth) || !SamplesStayInside(srcHeight, dstHeight)) continue;
        ExpectMatchesReference(srcWidth, srcHeight, dstWidth, dstHeight, random);
        ExpectMatchesReference(srcWidth, srcHeight, 160, 120, random);
    }
}

TEST(ScaleBilinear, ExtremesOfTheWeightsStayInRange) {
    std::mt19937 random(3);
    Picture source(5, 4, 0);
    for (size_t i = 0; i < source.bytes.size(); ++i) source.bytes[i] = (i % 2) ? 255 : 0;
    Picture ours(161, 121, 0);
    Picture expected(161, 121, 0);
    ScaleBilinear(ours.Desc(), source.Desc());
    ReferenceScale(expected.Desc(), source.Desc());
    EXPECT_EQ(ours.bytes, expected.bytes);
}

TEST(ScaleBilinear, LeavesTheTargetAloneForTooSmallSourcesOrEmptyTargets) {
    Picture target(160, 120, 0);
    std::fill(target.bytes.begin(), target.bytes.end(), 0xAB);
    const std::vector<uint8_t> untouched = target.bytes;
    for (const auto& size : {std::pair{1, 120}, std::pair{320, 1}, std::pair{0, 0}}) {
        Picture source(std::max(size.first, 1), std::max(size.second, 1), 0);
        source.width = size.first;
        source.height = size.second;
        ScaleBilinear(target.Desc(), source.Desc());
        EXPECT_EQ(target.bytes, untouched);
    }
    Picture source(320, 240, 0);
    ScaleBilinear({target.bytes.data(), target.stride, 0, 120}, source.Desc());
    ScaleBilinear({target.bytes.data(), target.stride, 160, 0}, source.Desc());
    EXPECT_EQ(target.bytes, untouched);
}

// A 2-pixel-wide source stretched so far that the last samples land on its
// last column: their right neighbour is the sample itself, nothing beyond.
TEST(ScaleBilinear, ExtremeEnlargementNeverReadsPastTheSource) {
    const int width = 600;
    std::vector<uint8_t> source = {10, 20, 30, 200, 210, 220, 0, 0, 10, 20, 30, 200, 210, 220, 0, 0};
    Picture target(width, 2, 0);
    ScaleBilinear(target.Desc(), {source.data(), 8, 2, 2});
    const uint8_t* lastColumn = &target.bytes[3 * (width - 1)];
    EXPECT_EQ(std::vector<uint8_t>(lastColumn, lastColumn + 3), (std::vector<uint8_t>{200, 210, 220}));
    EXPECT_EQ(std::vector<uint8_t>(target.bytes.begin(), target.bytes.begin() + 3), (std::vector<uint8_t>{10, 20, 30}));
}

}  // namespace

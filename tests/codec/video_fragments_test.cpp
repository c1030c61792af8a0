// The fragment format against fixed bytes: cutting at the 536-byte boundary,
// the count limit of the sender, and a header the receiver can read.
#include "codec/video_fragments.h"

#include <gtest/gtest.h>

#include <numeric>
#include <vector>

namespace {
using namespace video_fragments;

TEST(VideoFragments, CutsAtTheDataLimitWithCountAndIndexInFront) {
    std::vector<uint8_t> frame(537);
    std::iota(frame.begin(), frame.end(), 0);
    ASSERT_EQ(FragmentCount(frame.size()), 2);
    uint8_t out[kMaxFragmentBytes];

    ASSERT_EQ(CutFragment(frame.data(), frame.size(), 2, 0, out), 538u);
    EXPECT_EQ(std::vector<uint8_t>(out, out + 5), (std::vector<uint8_t>{2, 0, 0, 1, 2}));
    EXPECT_EQ(out[537], static_cast<uint8_t>(535));

    ASSERT_EQ(CutFragment(frame.data(), frame.size(), 2, 1, out), 3u);
    EXPECT_EQ(std::vector<uint8_t>(out, out + 3), (std::vector<uint8_t>{2, 1, static_cast<uint8_t>(536)}));

    FragmentHeader header{};
    ASSERT_TRUE(ReadHeader(out, 3, &header));
    EXPECT_EQ(header.count, 2);
    EXPECT_EQ(header.index, 1);
    EXPECT_FALSE(ReadHeader(out, 1, &header)) << "too short for the header";
}

TEST(VideoFragments, CountsUpToWhatOneByteNumbers) {
    EXPECT_EQ(FragmentCount(0), 0);
    EXPECT_EQ(FragmentCount(536), 1);
    EXPECT_EQ(FragmentCount(102400), 192);
    EXPECT_EQ(FragmentCount(255 * kMaxDataBytes), 255);
    EXPECT_EQ(FragmentCount(255 * kMaxDataBytes + 1), -1);
}

}  // namespace

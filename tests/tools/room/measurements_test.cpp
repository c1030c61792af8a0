// What a viewer's record makes of the pictures it is shown, against the
// sender's preview: loss, latency, quality and the share of frames shown.
#include "testbed/measurement/pair_record.h"
#include "testbed/measurement/source_frames.h"
#include "testbed/measurement/statistics.h"
#include "tests/tools/room/stamped_picture.h"

#include <gtest/gtest.h>

namespace {
using room::PairRecord;
using room::SourceFrames;
using room_testing::StampedPicture;

constexpr double kFramePeriod = 1.0 / 15;
constexpr double kTransit = 0.040;  // seconds from preview to viewer

void Capture(SourceFrames& source, uint16_t number) {
    source.OnPreview(StampedPicture(number).data(), number * kFramePeriod);
}

void Show(PairRecord& record, const SourceFrames* source, uint16_t number, uint8_t background = 128) {
    record.OnPicture(StampedPicture(number, background).data(), number * kFramePeriod + kTransit, source);
}

TEST(PairRecord, CountsOnlyFramesTheSenderCapturedAsLost) {
    SourceFrames source;
    for (uint16_t n : {0, 1, 2, 3, 4, 6, 7}) Capture(source, n);  // 5 never captured
    PairRecord record;
    for (uint16_t n : {0, 1, 4, 7}) Show(record, &source, n);  // 2, 3 and 6 missing
    const auto summary = record.Summarize(1, 2, &source);
    EXPECT_EQ(4u, summary.frames);
    EXPECT_EQ(3u, summary.lost);
}

TEST(PairRecord, WithoutTheSenderEveryGapCounts) {
    PairRecord record;
    for (uint16_t n : {10, 11, 15}) Show(record, nullptr, n);
    const auto summary = record.Summarize(1, 2, nullptr);
    EXPECT_EQ(3u, summary.lost);
    EXPECT_FALSE(summary.latencyMedianMs);
    EXPECT_FALSE(summary.shownShare);
}

TEST(PairRecord, StampsThatGoBackOrWrapAround) {
    PairRecord record;
    for (uint16_t n : {65534, 65535, 0, 1, 0}) Show(record, nullptr, n);  // the last 0 is a repeat
    EXPECT_EQ(0u, record.Summarize(1, 2, nullptr).lost);
}

TEST(PairRecord, MeasuresLatencyAndQualityAgainstTheSource) {
    SourceFrames source;
    for (uint16_t n = 0; n < 20; ++n) Capture(source, n);
    PairRecord record;
    for (uint16_t n = 5; n < 20; ++n) Show(record, &source, n, n == 10 ? 140 : 128);
    const auto summary = record.Summarize(1, 2, &source);
    ASSERT_TRUE(summary.latencyMedianMs && summary.latencyP99Ms);
    EXPECT_NEAR(kTransit * 1000, *summary.latencyMedianMs, 1e-6);
    EXPECT_NEAR(kTransit * 1000, *summary.latencyP99Ms, 1e-6);
    ASSERT_TRUE(summary.psnrMedianDb && summary.psnrMinDb);
    EXPECT_EQ(room::kPsnrOfIdenticalPicturesDb, *summary.psnrMedianDb);
    EXPECT_LT(*summary.psnrMinDb, 30.0);  // frame 10 differs by 12 outside the stamp
    // The first frame shown was the sender's sixth: 15 captured since, 15 shown.
    ASSERT_TRUE(summary.sentSinceFirstShown && summary.shownShare);
    EXPECT_EQ(15u, *summary.sentSinceFirstShown);
    EXPECT_DOUBLE_EQ(1.0, *summary.shownShare);
    EXPECT_NEAR(15.0, summary.framesPerSecond, 1e-6);
}

TEST(PairRecord, ShareCountsFromTheFirstMatchedFrame) {
    SourceFrames source;
    for (uint16_t n = 0; n < 10; ++n) Capture(source, n);
    PairRecord record;
    std::vector<uint8_t> unstamped(room::kPictureBytes, 128);
    record.OnPicture(unstamped.data(), 0.1, &source);  // garbage before the first key frame
    for (uint16_t n : {2, 3, 5, 6}) Show(record, &source, n);
    const auto summary = record.Summarize(1, 2, &source);
    EXPECT_EQ(5u, summary.frames);
    EXPECT_EQ(4u, summary.stamped);
    EXPECT_EQ(8u, *summary.sentSinceFirstShown);
    EXPECT_DOUBLE_EQ(4.0 / 8.0, *summary.shownShare);
}

TEST(SourceFrames, ForgetsPicturesBeyondItsRingButKeepsCounting) {
    SourceFrames source;
    const uint16_t total = room::kRecentSourcePictures + 5;
    for (uint16_t n = 0; n < total; ++n) Capture(source, n);
    const auto shown = StampedPicture(0);
    const auto old = source.Find(0, shown.data());
    ASSERT_TRUE(old);  // its capture time is still known
    EXPECT_FALSE(old->psnrDb);
    const auto recent = source.Find(total - 1, StampedPicture(total - 1).data());
    ASSERT_TRUE(recent && recent->psnrDb);
    EXPECT_EQ(total - 1u, recent->captureIndex);
    EXPECT_EQ(total, source.CapturedCount());
    EXPECT_FALSE(source.WasCaptured(total));
}

TEST(SourceFrames, CountsUnstampedPreviews) {
    SourceFrames source;
    std::vector<uint8_t> plain(room::kPictureBytes, 128);
    source.OnPreview(plain.data(), 0.0);
    Capture(source, 1);
    EXPECT_EQ(2u, source.CapturedCount());
    EXPECT_EQ(1u, source.UnstampedCount());
}

TEST(Statistics, NearestRankPercentiles) {
    std::vector<double> hundred;
    for (int i = 100; i >= 1; --i) hundred.push_back(i);
    EXPECT_EQ(99.0, room::Percentile(hundred, 0.99));
    EXPECT_EQ(50.0, room::Percentile(hundred, 0.5));
    EXPECT_EQ(2.0, room::Percentile({3, 1, 2}, 0.5));
    EXPECT_EQ(7.0, room::Percentile({7}, 0.99));
    EXPECT_FALSE(room::Percentile({}, 0.5));
    EXPECT_EQ(1.0, room::Minimum(hundred));
}
}  // namespace

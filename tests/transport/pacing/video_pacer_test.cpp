#include "transport/pacing/video_pacer.h"

#include <gtest/gtest.h>

#include <vector>

namespace {
using pacing::VideoPacer;

// Sends whatever is due until `until`, in steps of a tenth of a millisecond;
// the times at which datagrams left.
std::vector<double> Drain(VideoPacer& pacer, double from, double until) {
    std::vector<double> left;
    for (double now = from; now <= until; now += 0.0001)
        while (pacer.Due(now)) {
            left.push_back(now);
            pacer.Pop(now);
        }
    return left;
}

void PushFrame(VideoPacer& pacer, int fragments, size_t bytes) {
    const std::vector<uint8_t> data(bytes, 0x5A);
    pacer.BeginFrame();
    for (int i = 0; i < fragments; ++i) ASSERT_TRUE(pacer.Push(0, data.data(), data.size()));
    pacer.EndFrame();
}

TEST(VideoPacer, SpacesAFrameAtTheBudgetAndMarksItsFirstDatagram) {
    VideoPacer pacer;
    pacer.SetBudget(400'000);  // 500 bytes: 10 ms each
    PushFrame(pacer, 3, 500);
    ASSERT_TRUE(pacer.Due(0));
    EXPECT_TRUE(pacer.Due(0)->firstOfFrame);
    pacer.Pop(0);
    EXPECT_FALSE(pacer.Due(0.0099));
    ASSERT_TRUE(pacer.Due(0.01));
    EXPECT_FALSE(pacer.Due(0.01)->firstOfFrame);
    const std::vector<double> left = Drain(pacer, 0, 0.1);
    ASSERT_EQ(left.size(), 2u);
    EXPECT_NEAR(left[0], 0.010, 0.0002);
    EXPECT_NEAR(left[1], 0.020, 0.0002);
    EXPECT_LT(pacer.WaitSeconds(0.1), 0);
}

TEST(VideoPacer, AFrameTooLargeForTheBudgetIsSpreadOverItsLongestUnlessThePaceIsStrict) {
    VideoPacer pacer;
    pacer.SetBudget(20'000);  // a 12-fragment key frame would take 2.6 s
    PushFrame(pacer, 12, 538);
    const std::vector<double> left = Drain(pacer, 0, 1);
    ASSERT_EQ(left.size(), 12u);
    EXPECT_LE(left.back(), pacing::kLongestFrameSpreadSeconds);
    EXPECT_GT(left.back(), pacing::kLongestFrameSpreadSeconds * 0.8);  // spread, not a burst
    // On a congested uplink the frame keeps to the budget however long it takes.
    VideoPacer strict;
    strict.SetBudget(20'000, true);
    PushFrame(strict, 12, 538);
    const std::vector<double> paced = Drain(strict, 0, 3);
    ASSERT_EQ(paced.size(), 12u);
    EXPECT_NEAR(paced.back(), 11 * 538 * 8 / 20'000.0, 0.01);
}

TEST(VideoPacer, AnIdlePacerSendsAFewFramesWorthAtOnceButNoCreditWhenStrict) {
    for (const bool strict : {false, true}) {
        SCOPED_TRACE(strict ? "strict" : "smoothing");
        VideoPacer pacer;
        pacer.SetBudget(100'000, strict);
        PushFrame(pacer, 1, 250);  // 20 ms of budget
        EXPECT_EQ(Drain(pacer, 0, 0.001).size(), 1u);
        // Long after, 100 ms of budget: smoothing, the credit of one frame
        // interval lets four go at once and the fifth once the pace allows;
        // strict, they leave 20 ms apart.
        PushFrame(pacer, 5, 250);
        const std::vector<double> left = Drain(pacer, 5.0, 5.2);
        ASSERT_EQ(left.size(), 5u);
        EXPECT_NEAR(left[0], 5.0, 0.0005);
        EXPECT_NEAR(left[3], strict ? 5.06 : 5.0, 0.0005);
        EXPECT_NEAR(left[4], strict ? 5.08 : 5.08 - pacing::kBurstCreditSeconds, 0.0005);
    }
}

TEST(VideoPacer, UnpacedWithoutABudgetAndRefusesBeyondItsRoom) {
    VideoPacer pacer(4);
    const std::vector<uint8_t> data(100, 1);
    const std::vector<uint8_t> tooLong(pacing::kMaxPacedBytes + 1, 1);
    pacer.BeginFrame();
    for (int i = 0; i < 4; ++i) EXPECT_TRUE(pacer.Push(0.1 * i, data.data(), data.size()));
    EXPECT_FALSE(pacer.Push(0.4, data.data(), data.size()));
    EXPECT_FALSE(pacer.Push(0.4, tooLong.data(), tooLong.size()));
    EXPECT_DOUBLE_EQ(pacer.BacklogSeconds(0.5), 0.5) << "the oldest held";
    EXPECT_EQ(pacer.Refused(), 2u);
    pacer.EndFrame();
    EXPECT_EQ(Drain(pacer, 0, 0).size(), 4u);  // each given back once, all now
    EXPECT_EQ(pacer.Queued(), 0u);
    EXPECT_EQ(pacer.BacklogSeconds(1), 0);
    // Unpaced and empty, the next frame need not queue; paced, only what
    // the credit covers need not, and strict, nothing.
    bool first = false;
    pacer.BeginFrame();
    EXPECT_TRUE(pacer.PassesStraight(1, 100, &first));
    EXPECT_TRUE(first);
    EXPECT_TRUE(pacer.PassesStraight(1, 100, &first));
    EXPECT_FALSE(first);
    pacer.SetBudget(40'000);  // 100 bytes: 20 ms
    pacer.BeginFrame();
    for (int i = 0; i < 4; ++i) EXPECT_TRUE(pacer.PassesStraight(2, 100, &first)) << i;
    EXPECT_FALSE(pacer.PassesStraight(2, 100, &first));
    EXPECT_TRUE(pacer.PassesStraight(2.02, 100, &first));
    pacer.SetBudget(40'000, true);
    EXPECT_FALSE(pacer.PassesStraight(5, 100, &first));
}

}  // namespace

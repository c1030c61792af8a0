// The video ladder's rules with a fake clock: which step a budget takes,
// how soon it steps back up, and which frames a lower frame rate codes.
#include "engine/video_ladder.h"

#include <gtest/gtest.h>

namespace {

TEST(VideoLadder, StepsDownAtOnceThroughQuantiserThenFrameRateThenNoVideo) {
    struct Case {
        double budget;
        int quantiser;
        double framesPerSecond;
    };
    // The camera as measured for the table (scale 1); a step takes at most
    // its share of the budget.
    for (const Case c : {Case{1e6, 5, 15}, Case{45000 / kLadderFitShare, 8, 15}, Case{24000 / kLadderFitShare, 16, 15},
                         Case{10000, 31, 7.5}, Case{7000, 31, 5}, Case{1000, 31, 0}}) {
        VideoLadder ladder;
        ladder.Update(0, c.budget, 0);
        EXPECT_EQ(ladder.Quantiser(), c.quantiser) << c.budget;
        EXPECT_EQ(ladder.FramesPerSecond(), c.framesPerSecond) << c.budget;
        EXPECT_EQ(ladder.Paused(), c.framesPerSecond == 0);
    }
}

TEST(VideoLadder, StepsBackUpOneStepAtATimeAfterACleanSpellAndScalesToTheCamera) {
    VideoLadder ladder;
    ladder.Update(0, 1000, 0);
    ASSERT_TRUE(ladder.Paused());
    ladder.Update(0.1, 1e6, 0);
    EXPECT_EQ(ladder.Step(), kLadderNoVideo - 1) << "where the first budget put it was no step down";
    ladder.Update(1, 1000, 0);
    ASSERT_TRUE(ladder.Paused());
    ladder.Update(1 + kLadderCleanSeconds - 0.1, 1e6, 0);
    EXPECT_TRUE(ladder.Paused()) << "too soon";
    ladder.Update(1 + kLadderCleanSeconds, 1e6, 0);
    EXPECT_EQ(ladder.Step(), kLadderNoVideo - 1) << "one step at a time";
    ladder.Update(1 + kLadderCleanSeconds + kLadderStepUpSpacingSeconds / 2, 1e6, 0);
    EXPECT_EQ(ladder.Step(), kLadderNoVideo - 1) << "too soon";
    for (int i = 1; i < kLadderNoVideo; ++i)
        ladder.Update(1 + kLadderCleanSeconds + i * kLadderStepUpSpacingSeconds, 1e6, 0);
    EXPECT_EQ(ladder.Step(), kLadderTop);
    EXPECT_TRUE(ladder.Limited(1 + kLadderCleanSeconds + kLadderNoVideo * kLadderStepUpSpacingSeconds));
    // A camera that codes half the table's rate fits a budget half as large;
    // a measure of the step before counts for nothing.
    VideoLadder scaled;
    scaled.Update(0, 1e6, 0);
    constexpr int kStep = 3;
    scaled.Update(0.1, kLadderSteps[kStep].bitsPerSecond / kLadderFitShare, 0);
    ASSERT_EQ(scaled.Step(), kStep);
    scaled.Update(0.15, kLadderSteps[kStep].bitsPerSecond / (kLadderKeepShare - 0.05), 0);
    EXPECT_EQ(scaled.Step(), kStep) << "a budget that wavers keeps the step";
    for (int i = 0; i < 10; ++i) scaled.Update(0.2 + i * 0.1, 1e6, kLadderSteps[kLadderTop].bitsPerSecond / 2);
    EXPECT_EQ(scaled.TargetBitsPerSecond(), kLadderSteps[kStep].bitsPerSecond) << "not settled";
    for (int i = 0; i < 60; ++i) scaled.Update(20 + i * 0.1, 1e6, kLadderSteps[kLadderTop].bitsPerSecond / 2);
    scaled.Update(30, kLadderSteps[kLadderTop].bitsPerSecond / 2 / kLadderFitShare + 1000, 0);
    EXPECT_EQ(scaled.Step(), kLadderTop);
    EXPECT_NEAR(scaled.TargetBitsPerSecond(), kLadderSteps[kLadderTop].bitsPerSecond / 2, 1000);
    EXPECT_FALSE(scaled.Limited(30 + kLadderCleanSeconds));
}

TEST(FrameThinner, KeepsTheShareOfFramesEvenlySpread) {
    struct Case {
        double rate;
        int kept;  // of 30 frames at 15 frames/s
    };
    for (const Case c : {Case{15, 30}, Case{10, 20}, Case{7.5, 15}, Case{5, 10}, Case{0, 0}}) {
        FrameThinner thinner;
        int kept = 0, run = 0, longestSkip = 0;
        for (int i = 0; i < 30; ++i) {
            const bool keep = thinner.Keep(c.rate, 15);
            kept += keep;
            run = keep ? 0 : run + 1;
            longestSkip = std::max(longestSkip, run);
        }
        EXPECT_EQ(kept, c.kept) << c.rate;
        if (c.rate > 0) {
            EXPECT_LE(longestSkip, static_cast<int>(15 / c.rate)) << c.rate;
        }
    }
}

// A coder that overshoots its 20 kbit/s budget threefold (a frame of 4 kbit
// every 66 ms): a key frame's worth of debt passes, then frames are coded
// only as the budget allows, so over 10 s what is sent keeps to it.
TEST(VideoAllowance, KeepsAnOvershootingCoderToItsBudget) {
    VideoAllowance allowance(0.25);
    constexpr double kBudget = 20000, kFrameBits = 4000;
    double sent = 0;
    for (int i = 0; i < 150; ++i)
        if (allowance.Allows(i / 15.0, kBudget)) {
            allowance.Spend(kFrameBits);
            sent += kFrameBits;
        }
    EXPECT_LE(sent, kBudget * 10 + kBudget * 0.25 + kFrameBits);
    EXPECT_GE(sent, kBudget * 10 - kFrameBits);
}

}  // namespace

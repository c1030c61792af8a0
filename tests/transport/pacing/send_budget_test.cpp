// The send budget's rules with canned reports and time passed in.
#include "transport/pacing/arrival_delay.h"
#include "transport/pacing/send_budget.h"

#include <gtest/gtest.h>

#include <vector>

namespace {
using pacing::PeerReport;
using pacing::SendBudget;
constexpr double kSending = 45000;  // our video, one stream

PeerReport Report(int userId, uint64_t number, double lost, double roundTrip) {
    PeerReport report;
    report.userId = userId;
    report.hasReport = true;
    report.reportNumber = number;
    report.fractionLost = lost;
    report.roundTripSeconds = roundTrip;
    return report;
}

PeerReport Estimate(int userId, double bitsPerSecond, double at) {
    PeerReport report;
    report.userId = userId;
    report.hasEstimate = true;
    report.estimateBitsPerSecond = bitsPerSecond;
    report.estimateAt = at;
    return report;
}

PeerReport Jittered(int userId, double seconds) {
    PeerReport report = Report(userId, 1, 0, 0.02);
    report.voiceJitterSeconds = seconds;
    return report;
}

TEST(SendBudget, LossBasedRulesGrowHoldAndCutOncePerRoundTripPlusSpacing) {
    struct Case {
        double lost;
        double roundTrip;
        double factor;
    };
    // Under 2 % grows by 8 %, 2-10 % holds, over 10 % falls by half the loss
    // where the round trip has grown 60 ms over its least (a queue); a queue
    // without loss cuts by 15 %. Each cut starts from the budget: what is
    // sent is more.
    constexpr double kPlenty = 300000;
    for (const Case c : {Case{0.0, 0.02, 1.08}, Case{0.05, 0.02, 1.0}, Case{0.2, 0.08, 0.9}, Case{0.0, 0.08, 0.85}}) {
        SendBudget budget;
        budget.Update(0, {Report(2, 1, 0.05, 0.02), Report(3, 1, 0.05, 0.02)}, kPlenty);
        const double before = budget.LossBasedBitsPerSecond();
        budget.Update(1, {Report(2, 2, c.lost, c.roundTrip), Report(3, 2, c.lost, c.roundTrip)}, kPlenty);
        EXPECT_NEAR(budget.LossBasedBitsPerSecond(), std::min(pacing::kMaxStreamBitsPerSecond, before * c.factor), 1)
            << c.lost;
        // A newer report within round trip + 300 ms changes nothing.
        const double after = budget.LossBasedBitsPerSecond();
        budget.Update(1.2, {Report(2, 3, 0.5, 0.08), Report(3, 3, 0.5, 0.08)}, kPlenty);
        EXPECT_EQ(budget.LossBasedBitsPerSecond(), after);
        // The same report read again is no new evidence.
        budget.Update(5, {Report(2, 3, 0.5, 0.08), Report(3, 3, 0.5, 0.08)}, kPlenty);
        EXPECT_NE(budget.LossBasedBitsPerSecond(), after);
        const double third = budget.LossBasedBitsPerSecond();
        budget.Update(9, {Report(2, 3, 0.5, 0.08), Report(3, 3, 0.5, 0.08)}, kPlenty);
        EXPECT_EQ(budget.LossBasedBitsPerSecond(), third);
    }
    // Sending below its budget, a cut starts from what is sent; a queue
    // alone never cuts below voice and the lowest full frame rate.
    SendBudget budget;
    budget.Update(0, {Report(2, 1, 0, 0.02), Report(3, 1, 0, 0.02)}, 40000);
    budget.Update(1, {Report(2, 2, 0, 0.08), Report(3, 2, 0, 0.08)}, 40000);
    EXPECT_NEAR(budget.LossBasedBitsPerSecond(), (40000 + pacing::kVoiceStreamBitsPerSecond) * 0.85, 1);
    for (int i = 3; i < 10; ++i) budget.Update(i, {Report(2, i, 0, 0.08), Report(3, i, 0, 0.08)}, 40000);
    EXPECT_EQ(budget.LossBasedBitsPerSecond(), pacing::kStartStreamLeastBitsPerSecond);
    EXPECT_TRUE(budget.Congested(9));
    EXPECT_FALSE(budget.Congested(9 + pacing::kCongestedSeconds));
}

TEST(SendBudget, LossWithoutAQueueOrSeenByOnePeerCutsNoUplink) {
    SendBudget budget;
    budget.Update(0, {Report(2, 1, 0, 0.02), Report(3, 1, 0, 0.02), Report(4, 1, 0, 0.02)}, kSending);
    const double start = budget.LossBasedBitsPerSecond();
    // 20 % loss at every receiver with a steady round trip: receivers that
    // could not keep up, not our uplink.
    budget.Update(1, {Report(2, 2, 0.2, 0.02), Report(3, 2, 0.2, 0.02), Report(4, 2, 0.2, 0.02)}, kSending);
    EXPECT_EQ(budget.LossBasedBitsPerSecond(), start);
    EXPECT_TRUE(budget.HeldPeers(1).empty());
    // One peer alone loses with a queue: its downlink; its video is held a while.
    budget.Update(2, {Report(2, 3, 0.3, 0.1), Report(3, 3, 0, 0.02), Report(4, 3, 0, 0.02)}, kSending);
    EXPECT_EQ(budget.LossBasedBitsPerSecond(), start);
    EXPECT_EQ(budget.HeldPeers(2), std::vector<int>{2});
    EXPECT_EQ(budget.HeldPeers(2 + pacing::kHoldSeconds), std::vector<int>{});
}

TEST(SendBudget, DelayBasedFollowsTheMedianEstimateAndTellsAnOutlierDownlink) {
    SendBudget budget;
    budget.Update(10, {Estimate(2, 30000, 9.9), Estimate(3, 40000, 9.9), Estimate(4, 50000, 9.9)}, kSending);
    EXPECT_FALSE(budget.Congested(10)) << "the first estimates find the rate; they cut nothing";
    EXPECT_EQ(budget.DelayBasedBitsPerSecond(), 40000 + pacing::kVoiceStreamBitsPerSecond);
    EXPECT_EQ(budget.VideoBitsPerSecond(), 40000);
    EXPECT_TRUE(budget.HeldPeers(10).empty());
    // One peer far below the others: video to it is held, the others' budget stays.
    budget.Update(11, {Estimate(2, 2000, 10.9), Estimate(3, 40000, 10.9), Estimate(4, 50000, 10.9)}, kSending);
    EXPECT_EQ(budget.HeldPeers(11), std::vector<int>{2});
    EXPECT_EQ(budget.VideoBitsPerSecond(), 40000);
    // Held, it has no video to estimate: the budget does not fall back to loss.
    budget.Update(13, {Estimate(2, 2000, 10.9), Estimate(3, 40000, 12.9), Estimate(4, 40000, 12.9)}, kSending);
    EXPECT_EQ(budget.VideoBitsPerSecond(), 40000);
    // Estimates go stale; without any, the rate only creeps upwards.
    const double before = budget.DelayBasedBitsPerSecond();
    budget.Update(20, {Estimate(3, 1000, 10.9)}, kSending);
    EXPECT_GT(budget.DelayBasedBitsPerSecond(), before);
    EXPECT_LT(budget.DelayBasedBitsPerSecond(), before * 1.1);
}

TEST(SendBudget, MostReceiversEstimatingLessThanIsSentIsACut) {
    SendBudget budget;
    const auto all = [](double bitsPerSecond, double at) {
        return std::vector{Estimate(2, bitsPerSecond, at), Estimate(3, bitsPerSecond, at),
                           Estimate(4, bitsPerSecond, at)};
    };
    budget.Update(10, all(60000, 9.9), kSending);
    // Estimates that follow what arrives, lower than before but not below it.
    budget.Update(11, all(kSending, 10.9), kSending);
    EXPECT_FALSE(budget.Congested(11));
    // A queue seen: estimates fall below what arrives.
    budget.Update(12, all(kSending * pacing::kOveruseBackoff, 11.9), kSending);
    EXPECT_TRUE(budget.Congested(12));
}

TEST(SendBudget, OurVoiceArrivingJitteryAtMostPeersMarksAThinUplink) {
    SendBudget budget;
    budget.Update(1, {Jittered(2, 0.001), Jittered(3, 0.012), Jittered(4, 0.001)}, kSending);
    EXPECT_FALSE(budget.Congested(1)) << "one peer's own path";
    budget.Update(2, {Jittered(2, 0.009), Jittered(3, 0.012), Jittered(4, 0.001)}, kSending);
    EXPECT_TRUE(budget.Congested(2));
    // Paced, the jitter goes; the uplink is still the thin one.
    budget.Update(3, {Jittered(2, 0.001), Jittered(3, 0.001), Jittered(4, 0.001)}, kSending);
    EXPECT_TRUE(budget.Congested(3));
    EXPECT_FALSE(budget.Congested(2 + pacing::kCongestedSeconds));

    // A busy machine jitters every peer's voice both ways: not the uplink.
    const auto bothWays = [&](int userId, double ours, double theirs) {
        PeerReport report = Jittered(userId, ours);
        report.theirVoiceJitterSeconds = theirs;
        return report;
    };
    SendBudget busy;
    busy.Update(1, {bothWays(2, 0.012, 0.011), bothWays(3, 0.012, 0.011), bothWays(4, 0.012, 0.011)}, kSending);
    // Each peer's by its own share: the medians tell.
    busy.Update(2, {bothWays(2, 0.005, 0.002), bothWays(3, 0.005, 0.003), bothWays(4, 0.005, 0.0015)}, kSending);
    EXPECT_FALSE(busy.Congested(2));
}

TEST(SendBudget, OurVoiceJitteryCapsTheRateUnderWhatIsSentUntilItIsSmoothAgain) {
    const auto reports = [](double jitter, double at) {
        std::vector<PeerReport> all;
        for (const int userId : {2, 3, 4}) {
            PeerReport report = Estimate(userId, 200000, at);
            report.voiceJitterSeconds = jitter;
            report.theirVoiceJitterSeconds = 0.0005;
            all.push_back(report);
        }
        return all;
    };
    constexpr double kVoice = pacing::kVoiceStreamBitsPerSecond;
    SendBudget budget;
    // Pacing answers first: the rate is only cut when the jitter outlasts it.
    budget.Update(10, reports(0.008, 10), 100000);
    EXPECT_TRUE(budget.Congested(10));
    EXPECT_EQ(budget.StreamBitsPerSecond(), 200000 + kVoice);
    budget.Update(12, reports(0.008, 12), 100000);
    EXPECT_NEAR(budget.StreamBitsPerSecond(), (100000 + kVoice) * pacing::kJitterBackoff, 1);
    // Once per spacing: the jitter reported lags the cut.
    budget.Update(13, reports(0.008, 13), 80000);
    EXPECT_NEAR(budget.StreamBitsPerSecond(), (100000 + kVoice) * pacing::kJitterBackoff, 1);
    budget.Update(14, reports(0.008, 14), 80000);
    EXPECT_NEAR(budget.StreamBitsPerSecond(), (80000 + kVoice) * pacing::kJitterBackoff, 1);
    // Never under voice and the least video, whatever is sent.
    budget.Update(16, reports(0.008, 16), 5000);
    EXPECT_EQ(budget.StreamBitsPerSecond(), pacing::kStartStreamLeastBitsPerSecond);
    // Smooth again, the cap grows back a share a second, up to the estimates;
    // jitter again starts a new spell of pacing first.
    const double grown = pacing::kStartStreamLeastBitsPerSecond * (1 + pacing::kJitterCapGrowthPerSecond);
    budget.Update(17, reports(0.001, 17), 5000);
    EXPECT_NEAR(budget.StreamBitsPerSecond(), grown, 1);
    budget.Update(19, reports(0.008, 19), 5000);
    EXPECT_NEAR(budget.StreamBitsPerSecond(), grown, 1);
    for (int i = 1; i <= 30; ++i) budget.Update(19 + i, reports(0.001, 19 + i), 5000);
    EXPECT_EQ(budget.StreamBitsPerSecond(), 200000 + kVoice);
}

TEST(SendBudget, VoiceThatDoesNotFitLeavesNoVideo) {
    SendBudget budget;
    budget.Update(10, {Estimate(2, 1000, 9.9), Estimate(3, 1000, 9.9)}, kSending);
    EXPECT_FALSE(budget.VoiceDoesNotFit());
    EXPECT_EQ(budget.VideoBitsPerSecond(), 1000);
    for (int i = 1; i < 40; ++i)
        budget.Update(10 + i,
                      {Report(2, i, 0.5, 0.3), Report(3, i, 0.5, 0.3), Estimate(2, 1000, 9.9 + i),
                       Estimate(3, 1000, 9.9 + i)},
                      kSending);
    EXPECT_TRUE(budget.VoiceDoesNotFit());
    EXPECT_EQ(budget.VideoBitsPerSecond(), 0);
}

}  // namespace

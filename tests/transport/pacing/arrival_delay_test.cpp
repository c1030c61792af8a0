// A receiver's estimates of its senders' paths with canned arrivals and time passed in.
#include "transport/pacing/arrival_delay.h"
#include "transport/pacing/path_queues.h"

#include <gtest/gtest.h>

#include <optional>

namespace {
constexpr uint32_t kVoiceTicks = 240;  // 30 ms at 8 kHz

// Frames of `bytes` at 15 frames/s for `seconds` from `start`.
void Frames(pacing::ArrivalDelay& path, double start, double seconds, size_t bytes) {
    for (int i = 0; i < static_cast<int>(seconds * 15); ++i) path.OnPacket(start + i / 15.0, bytes);
}

TEST(ArrivalDelay, AQueuedPathIsOveruseAndTheEstimateFallsBelowWhatArrives) {
    pacing::ArrivalDelay path;
    Frames(path, 0, 2, 200);
    EXPECT_FALSE(path.Overused(2, 0.01));
    const double arriving = path.ArrivingBitsPerSecond(2);
    EXPECT_NEAR(arriving, 15 * 228 * 8, 15 * 228 * 8 * 0.1);  // with the IPv4 and UDP headers
    EXPECT_NEAR(path.EstimateBitsPerSecond(2, false),
                arriving * pacing::kHeadroomShare + pacing::kHeadroomBitsPerSecond, 1)
        << "what arrives without a queue, and room to step up";
    // Less arriving without a queue (the sender needs less) lowers nothing.
    const double before = path.EstimateBitsPerSecond(2, false);
    Frames(path, 2, 0.5, 50);
    EXPECT_EQ(path.EstimateBitsPerSecond(2.5, false), before);
    Frames(path, 2.5, 0.5, 200);
    EXPECT_TRUE(path.Overused(3, 0.05));
    EXPECT_NEAR(path.EstimateBitsPerSecond(3, true), path.ArrivingBitsPerSecond(3) * pacing::kOveruseBackoff, 1);
    // A sender that stopped overuses nothing.
    EXPECT_FALSE(path.Overused(3 + pacing::kQueueLifetimeSeconds + 0.1, 0.05));
    // Its video back after a pause is measured afresh: a second of it
    // before any estimate, and then not the pause's share of it.
    Frames(path, 5, 0.5, 200);
    EXPECT_EQ(path.EstimateBitsPerSecond(5.5, false), 0);
    Frames(path, 5.5, 1, 200);
    EXPECT_GT(path.EstimateBitsPerSecond(6.5, false), path.ArrivingBitsPerSecond(6.5));
}

// Video frames whose own arrivals say nothing (a pacer's spread, a lower
// frame rate); each sender's voice gives its path's queue.
TEST(ArrivalDelay, TheVoicesQueueJudgesAPathAndAReceiverWhoseEverySenderQueuesBlamesItself) {
    const auto frames = [](pacing::ArrivalDelays& paths) {
        for (uint32_t ssrc : {1u, 2u, 3u})
            for (int i = 0; i < 30; ++i) paths.OnPacket(ssrc, i / 15.0 + 0.02 * (i % 4), 200);
    };
    pacing::ArrivalDelays every;
    frames(every);
    EXPECT_TRUE(every.Due(2, [](uint32_t) { return 0.1; }).empty()) << "no sender is told to slow down";
    // Nor later: once the queue passes, the estimates are those of a calm receiver.
    pacing::ArrivalDelays calm;
    frames(calm);
    const auto none = [](uint32_t) { return std::optional(0.0); };
    calm.Due(2, none);
    EXPECT_EQ(every.Due(2.3, none), calm.Due(2.3, none));
    // One sender queuing alone is told; unknown queues judge nothing.
    pacing::ArrivalDelays one;
    frames(one);
    const auto told = one.Due(2, [](uint32_t ssrc) { return ssrc == 1 ? std::optional(0.1) : std::nullopt; });
    ASSERT_EQ(told.size(), 3u);
    EXPECT_LT(told[0].second, told[1].second);
    EXPECT_EQ(told[1].second, told[2].second);
    const auto firstQueues = [](uint32_t ssrc) { return ssrc == 1 ? std::optional(0.1) : std::optional(0.0); };
    EXPECT_TRUE(one.Due(2.1, firstQueues).empty()) << "spaced";
    // A path that starts to queue is told at once.
    const auto secondNow = [](uint32_t ssrc) { return ssrc == 2 ? std::optional(0.1) : std::optional(0.0); };
    EXPECT_EQ(one.Due(2.15, secondNow).size(), 3u);
}

TEST(PathQueues, AVoicesSustainedWaitBeyondItsUsualIsItsPathQueue) {
    pacing::PathQueues queues;
    // The first leaves 30 ms ahead of the sender's steady cadence (its
    // device started late): early, not a faster path. From the 40th packet
    // on, all wait 100 ms.
    for (int i = 0; i < 50; ++i)
        queues.OnVoice(7, i * 0.03 + (i > 0 ? 0.03 : 0) + (i >= 40 ? 0.1 : 0), kVoiceTicks * i);
    ASSERT_TRUE(queues.QueueSeconds(7, 1.6));
    EXPECT_NEAR(*queues.QueueSeconds(7, 1.6), 0.1, 0.001);
    // One packet 80 ms later still is jitter.
    queues.OnVoice(7, 50 * 0.03 + 0.03 + 0.18, kVoiceTicks * 50);
    EXPECT_NEAR(*queues.QueueSeconds(7, 1.7), 0.1, 0.001);
    EXPECT_FALSE(queues.QueueSeconds(8, 1.7)) << "never heard";
    EXPECT_FALSE(queues.QueueSeconds(7, 1.8 + pacing::kQueueLifetimeSeconds)) << "stale";
    // Silent for 2 s while the timestamps stood still: learned afresh, not
    // a queue of 2 s.
    for (int i = 0; i < 40; ++i) queues.OnVoice(7, 3.7 + i * 0.03, kVoiceTicks * (51 + i));
    ASSERT_TRUE(queues.QueueSeconds(7, 4.9));
    EXPECT_NEAR(*queues.QueueSeconds(7, 4.9), 0, 0.001);
    queues.Forget(7);
    EXPECT_FALSE(queues.QueueSeconds(7, 4.9));
}

}  // namespace

// A receiver's delay estimate with canned arrivals and time passed in.
#include "transport/pacing/arrival_delay.h"

#include <gtest/gtest.h>

namespace {
constexpr double kTicks = 90000;
constexpr uint32_t kFrameTicks = 6000;  // 15 frames/s

// Frames of `bytes` for `seconds` from `start`, each waiting `queue(i)` more.
template <typename Queue>
void Frames(pacing::ArrivalDelay& path, double start, double seconds, size_t bytes, Queue queue) {
    const int frames = static_cast<int>(seconds * 15);
    const uint32_t first = static_cast<uint32_t>(start * 15) * kFrameTicks;
    for (int i = 0; i < frames; ++i)
        path.OnPacket(start + i / 15.0 + queue(i), first + kFrameTicks * static_cast<uint32_t>(i), bytes);
}

TEST(ArrivalDelay, AGrowingQueueIsOveruseAndTheEstimateFallsBelowWhatArrives) {
    pacing::ArrivalDelay path(kTicks);
    Frames(path, 0, 2, 200, [](int) { return 0.0; });
    EXPECT_FALSE(path.Overused(2));
    const double arriving = path.ArrivingBitsPerSecond(2);
    EXPECT_NEAR(arriving, 15 * 228 * 8, 15 * 228 * 8 * 0.1);  // with the IPv4 and UDP headers
    EXPECT_GT(path.EstimateBitsPerSecond(2), arriving);
    // Each frame waits 5 ms longer than the one before.
    Frames(path, 2, 1, 200, [](int i) { return 0.005 * i; });
    EXPECT_TRUE(path.Overused(3));
    EXPECT_NEAR(path.EstimateBitsPerSecond(3), path.ArrivingBitsPerSecond(3) * pacing::kOveruseBackoff, 1);
    // A sender that stopped overuses nothing.
    EXPECT_FALSE(path.Overused(3 + pacing::kQueueLifetimeSeconds + 0.1));
}

TEST(ArrivalDelay, AReceiverWhoseEverySenderQueuesBlamesItself) {
    pacing::ArrivalDelays paths(kTicks);
    for (uint32_t ssrc : {1u, 2u, 3u})
        for (int i = 0; i < 30; ++i)
            paths.OnPacket(ssrc, i / 15.0 + (i > 20 ? 0.01 * (i - 20) : 0), kFrameTicks * i, 200);
    const auto due = paths.Due(2);
    EXPECT_TRUE(due.empty()) << "no sender is told to slow down";
    // One sender queuing alone is told.
    pacing::ArrivalDelays one(kTicks);
    for (uint32_t ssrc : {1u, 2u, 3u})
        for (int i = 0; i < 30; ++i)
            one.OnPacket(ssrc, i / 15.0 + (ssrc == 1 && i > 20 ? 0.01 * (i - 20) : 0), kFrameTicks * i, 200);
    const auto told = one.Due(2);
    ASSERT_EQ(told.size(), 3u);
    EXPECT_LT(told[0].second, told[1].second);
    EXPECT_TRUE(one.Due(2.1).empty()) << "spaced";
}

}  // namespace

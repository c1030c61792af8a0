// The rules of retransmission, with time passed in: when the receiver asks
// for a missing packet, what the sender still holds, and how much it may
// send again.
#include "transport/nack_compound_limit.h"
#include "transport/nack_requester.h"
#include "transport/retransmission_budget.h"
#include "transport/sent_packet_history.h"
#include "transport/transmission_constants.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace {
using namespace transmission;
using Numbers = std::vector<uint16_t>;

constexpr NackTiming kTiming{0.02, 0.15};

// Asks what is due at each step of `step` seconds from `start` to `end`,
// marking it asked, and returns the times at which `sequence` was asked.
std::vector<double> AskTimes(NackRequester& requester, uint16_t sequence, double start, double end, double step) {
    std::vector<double> times;
    for (double now = start; now <= end; now += step) {
        const Numbers due = requester.Due(now, kTiming);
        for (uint16_t number : due)
            if (number == sequence) times.push_back(now);
        requester.MarkAsked(due, now);
    }
    return times;
}

TEST(NackRequester, AGapIsAskedAfterTheReorderWaitThenOncePerRetryAtMostThreeTimes) {
    NackRequester requester;
    EXPECT_FALSE(requester.OnPacket(65534, 0));
    EXPECT_FALSE(requester.OnPacket(1, 0));  // 65535 and 0 missing, across the wrap
    EXPECT_EQ(requester.Due(kTiming.reorderWait / 2, kTiming), Numbers{}) << "may still be on its way";
    EXPECT_EQ(requester.Due(kTiming.reorderWait, kTiming), (Numbers{65535, 0}));

    const std::vector<double> times = AskTimes(requester, 0, kTiming.reorderWait, 0.9, 0.01);
    ASSERT_EQ(times.size(), static_cast<size_t>(kMaxNackTries));
    for (size_t i = 1; i < times.size(); ++i) EXPECT_GE(times[i] - times[i - 1], kTiming.retryInterval - 1e-9);
    EXPECT_EQ(requester.MissingCount(), 0u) << "given up once the last ask had its round trip";
}

TEST(NackRequester, AnArrivalEndsTheAsksAndCountsAsRecoveredOnlyWhenAsked) {
    NackRequester requester;
    requester.OnPacket(10, 0);
    requester.OnPacket(14, 0);  // 11, 12, 13 missing
    EXPECT_FALSE(requester.OnPacket(13, 0.001)) << "overtaken, arrived before any ask";
    const Numbers due = requester.Due(0.03, kTiming);
    EXPECT_EQ(due, (Numbers{11, 12}));
    requester.MarkAsked(due, 0.03);
    EXPECT_TRUE(requester.OnPacket(11, 0.08));
    EXPECT_FALSE(requester.OnPacket(11, 0.09)) << "a duplicate is nothing";
    EXPECT_EQ(requester.Due(0.2, kTiming), Numbers{12});
}

TEST(NackRequester, DuplicatesLateAndLongJumpsAskNothing) {
    NackRequester requester;
    for (uint16_t s : {100, 101, 102, 101, 100, 102, 103}) requester.OnPacket(s, 0);
    EXPECT_EQ(requester.MissingCount(), 0u);
    requester.OnPacket(static_cast<uint16_t>(103 + kMaxNackGap + 2), 0);  // a restart or a long outage
    EXPECT_EQ(requester.Due(1, kTiming), Numbers{});

    NackRequester old;
    old.OnPacket(1, 0);
    old.OnPacket(3, 0);
    EXPECT_EQ(old.Due(kNackGiveUpSeconds + 0.01, kTiming), Numbers{}) << "older than the sender keeps";
}

TEST(NackRequester, TimingFollowsTheJitterAndTheRoundTripWithinBounds) {
    const NackTiming unknown = NackTimingFor(0, 0);
    EXPECT_DOUBLE_EQ(unknown.reorderWait, kNackReorderWaitFloorSeconds);
    EXPECT_DOUBLE_EQ(unknown.retryInterval, kNackRetryRoundTrips * kAssumedRoundTripSeconds);
    const NackTiming jittery = NackTimingFor(0.1, 0.01);
    EXPECT_DOUBLE_EQ(jittery.reorderWait, kNackReorderJitters * 0.01);
    EXPECT_DOUBLE_EQ(jittery.retryInterval, kNackRetryRoundTrips * 0.1 + kNackRetryJitters * 0.01);
    EXPECT_DOUBLE_EQ(NackTimingFor(0.1, 1).reorderWait, kNackReorderWaitCapSeconds);
    EXPECT_DOUBLE_EQ(NackTimingFor(0.001, 0).retryInterval, kNackRetryFloorSeconds);
}

TEST(SentPacketHistory, CopiesTheExactBytesOfRecentPacketsOnly) {
    SentPacketHistory history;
    const std::vector<uint8_t> first = {0x80, 34, 0x12, 0x34, 9, 9};
    history.Add(first.data(), first.size(), 0x1234, 10.0);
    std::vector<uint8_t> copy;
    ASSERT_TRUE(history.Copy(0x1234, 10.5, &copy));
    EXPECT_EQ(copy, first);
    EXPECT_FALSE(history.Copy(0x1235, 10.5, &copy)) << "never sent";
    EXPECT_FALSE(history.Copy(0x1234, 10.0 + kSentHistorySeconds + 0.01, &copy)) << "older than the window";
    EXPECT_EQ(history.BytesWithin(10.5), first.size());
    EXPECT_EQ(history.BytesWithin(12.0), 0u);

    // A number a whole ring later takes the slot: the old one is gone.
    const uint16_t later = static_cast<uint16_t>(0x1234 + kSentHistoryPackets);
    history.Add(first.data(), 3, later, 10.6);
    EXPECT_FALSE(history.Copy(0x1234, 10.7, &copy));
    ASSERT_TRUE(history.Copy(later, 10.7, &copy));
    EXPECT_EQ(copy.size(), 3u);
}

TEST(NackCompoundLimit, EachNumberOnceAtMostAHistoryOfThemAndNothingAfterARefusal) {
    NackCompoundLimit limit;
    const auto take = [&](std::vector<uint16_t> lost) {
        std::vector<uint16_t> out;
        limit.Take(lost.data(), lost.size(), &out);
        return out;
    };
    limit.BeginCompound();
    EXPECT_EQ(take({5, 6, 5, 7, 6}), (std::vector<uint16_t>{5, 6, 7}));
    EXPECT_EQ(take({7, 8}), std::vector<uint16_t>{8}) << "the compound's second NACK";
    limit.Stop();
    EXPECT_TRUE(take({9}).empty());

    limit.BeginCompound();
    EXPECT_EQ(take({5}), std::vector<uint16_t>{5}) << "a new compound starts afresh";
    std::vector<uint16_t> many(1000);
    for (size_t i = 0; i < many.size(); ++i) many[i] = static_cast<uint16_t>(65000 + i);  // across the wrap
    const std::vector<uint16_t> taken = take(many);
    ASSERT_EQ(taken.size(), NackCompoundLimit::kMaxNumbers - 1);
    EXPECT_EQ(taken.back(), many[NackCompoundLimit::kMaxNumbers - 2]);
}

TEST(RetransmissionBudget, HalfTheStreamPerWindowThenRoomAgainAsItAges) {
    RetransmissionBudget budget;
    EXPECT_TRUE(budget.TrySpend(200, 800, 0));
    EXPECT_TRUE(budget.TrySpend(200, 800, 0.1));
    EXPECT_FALSE(budget.TrySpend(1, 800, 0.2)) << "400 of 800 spent";
    EXPECT_FALSE(budget.TrySpend(100, 0, 0.2)) << "nothing sent, nothing to send again";
    EXPECT_TRUE(budget.TrySpend(200, 800, kSentHistorySeconds + 0.05)) << "the first spend left the window";
    EXPECT_FALSE(budget.TrySpend(200, 800, kSentHistorySeconds + 0.06));
}

}  // namespace

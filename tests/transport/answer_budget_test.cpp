// The answer budget per source address and the first answer per address and
// port, with time passed in.
#include "transport/address/answer_budget.h"

#include <gtest/gtest.h>

namespace {
constexpr uint32_t kPlayer = 0xC6120001;  // 198.18.0.1
constexpr uint16_t kEnginePort = 11000;

// Answers granted to `address` by asking `times` times at nowMs from `port`.
int Granted(AnswerBudget& budget, uint32_t address, int times, int64_t nowMs, uint16_t port = kEnginePort) {
    int granted = 0;
    for (int i = 0; i < times; ++i) granted += budget.TrySpend(address, port, nowMs) ? 1 : 0;
    return granted;
}

// An address other than `address` whose slot is (or is not) the same.
uint32_t Neighbour(const AnswerBudget& budget, uint32_t address, bool sameSlot) {
    for (uint32_t other = address + 1; other != address + (1u << 24); ++other) {
        if ((budget.SlotOf(other) == budget.SlotOf(address)) == sameSlot) return other;
    }
    ADD_FAILURE() << "no such address";
    return address;
}

TEST(AnswerBudget, DefaultsLeaveARoomBehindOneAddressUnrefused) {
    AnswerBudget budget;
    // 16 players, 2 sessions each, all at once and again every 4 s.
    for (int64_t nowMs = 0; nowMs <= 60000; nowMs += 4000) {
        int granted = 0;
        for (uint16_t port = kEnginePort; port < kEnginePort + 32; ++port)
            granted += Granted(budget, kPlayer, 1, nowMs, port);
        EXPECT_EQ(granted, 32);
    }
}

TEST(AnswerBudget, AForgerInAnEnginesAddressNeverKeepsTheEngineFromItsAnswer) {
    AnswerBudget budget;
    // 1000 forged requests a second from every other port of the address,
    // for two minutes; the engine asks every 4 s, a little early or late.
    int answered = 0, asked = 0;
    for (int64_t nowMs = 0; nowMs < 120000; ++nowMs) {
        budget.TrySpend(kPlayer, static_cast<uint16_t>(20000 + nowMs % 30000), nowMs);
        if (nowMs % 4000 == 1 + (nowMs / 4000) % 3 * 100) {
            ++asked;
            answered += Granted(budget, kPlayer, 1, nowMs);
        }
    }
    EXPECT_EQ(answered, asked);
    EXPECT_EQ(asked, 30);
}

TEST(AnswerBudget, OneAddressAndPortGetsTheBucketAndOneAnswerAPeriodNoMore) {
    AnswerBudget budget(10);
    EXPECT_EQ(Granted(budget, kPlayer, 1000, 0), 40);
    int granted = 0;
    for (int64_t nowMs = 1; nowMs <= 12000; ++nowMs) granted += Granted(budget, kPlayer, 1, nowMs);
    EXPECT_EQ(granted, 120) << "the refill is spent as it comes, which marks the port answered";

    // While another port spends the bucket, one answer a period.
    std::vector<int64_t> answeredAt;
    for (int64_t nowMs = 12001; nowMs <= 18000; ++nowMs) {
        Granted(budget, kPlayer, 1, nowMs, kEnginePort + 2);
        if (Granted(budget, kPlayer, 1, nowMs)) answeredAt.push_back(nowMs);
    }
    EXPECT_EQ(answeredAt, (std::vector<int64_t>{15000, 18000}));
}

TEST(AnswerBudget, BurstThenRefillByElapsedTimeOnly) {
    AnswerBudget budget(10);
    ASSERT_EQ(budget.Burst(), 40u);
    EXPECT_EQ(Granted(budget, kPlayer, 1000, 5000), 40);
    EXPECT_EQ(Granted(budget, kPlayer, 1000, 5099), 0) << "a tenth of a second later: not yet one answer";
    EXPECT_EQ(Granted(budget, kPlayer, 1000, 5100), 1);
    EXPECT_EQ(Granted(budget, kPlayer, 1000, 6100), 10) << "one second refills perSecond";
    EXPECT_EQ(Granted(budget, kPlayer, 1000, 1000), 0) << "a clock going back refills nothing";
    EXPECT_EQ(Granted(budget, kPlayer, 1000, 6100 + 86400000), 40) << "a long pause refills the burst, no more";
}

TEST(AnswerBudget, AddressesInOtherSlotsKeepTheirOwnBudget) {
    AnswerBudget budget;
    const uint32_t other = Neighbour(budget, kPlayer, false);
    EXPECT_EQ(Granted(budget, kPlayer, 1000, 0), 64);
    EXPECT_EQ(Granted(budget, other, 1000, 0), 64);
    EXPECT_EQ(Granted(budget, kPlayer, 1000, 0), 0) << "the other's answers gave the first none back";
}

TEST(AnswerBudget, ASlotTakenByAnotherAddressStartsItFull) {
    AnswerBudget budget;
    const uint32_t sharing = Neighbour(budget, kPlayer, true);
    EXPECT_EQ(Granted(budget, kPlayer, 1000, 0), 64);
    EXPECT_EQ(Granted(budget, sharing, 1000, 0), 64);
    EXPECT_EQ(Granted(budget, kPlayer, 1000, 0), 64) << "the slot went back to the first with a full bucket";
}

TEST(AnswerBudget, EachBudgetPlacesAddressesItsOwnWay) {
    // A fixed placement would let a sender pick addresses that share a slot.
    AnswerBudget first, second;
    int samePlace = 0;
    for (uint32_t address = kPlayer; address < kPlayer + 64; ++address)
        samePlace += first.SlotOf(address) == second.SlotOf(address) ? 1 : 0;
    EXPECT_LT(samePlace, 8);
    for (uint32_t address : {0u, kPlayer, 0xFFFFFFFFu}) {
        EXPECT_LT(first.SlotOf(address), AnswerBudget::kSlots);
        EXPECT_LT(first.SlotOf(address, 65535), AnswerBudget::kSlots);
    }
}

}  // namespace

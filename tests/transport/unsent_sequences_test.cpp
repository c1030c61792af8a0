// Reception reports judged against what was really sent to each peer.
#include "transport/unsent_sequences.h"

#include <gtest/gtest.h>

namespace {
const rtp::RTPIPv4Address kA(0x7F000001, 5000);
const rtp::RTPIPv4Address kB(0x7F000001, 5002);

uint8_t Fraction(int lost, int expected) { return static_cast<uint8_t>(lost * 256 / expected); }

// Greetings go to one peer at a time; video to every peer but the held.
TEST(UnsentSequences, WhatAPeerWasNeverSentIsNotItsLoss) {
    UnsentSequences unsent;
    // 65530..65559 (across the wrap): every third a greeting to B alone.
    for (int i = 0; i < 30; ++i) {
        const auto sequence = static_cast<uint16_t>(65530 + i);
        unsent.OnSent(sequence, i % 3 == 0 ? std::vector{kA} : std::vector<rtp::RTPIPv4Address>{});
    }
    // A's first report counts the 10 greetings to B lost, and so 2 more.
    const auto highest = static_cast<uint16_t>(65530 + 29);
    EXPECT_NEAR(unsent.ShareLost(kA, highest, 12, Fraction(12, 30), 1.0), 2.0 / 20, 0.01);
    EXPECT_NEAR(unsent.ShareLost(kA, highest, 12, Fraction(12, 30), 1.0), 2.0 / 20, 0.01) << "the same report";
    EXPECT_NEAR(unsent.ShareLost(kB, highest, 3, Fraction(3, 30), 1.0), 3.0 / 30, 0.01) << "B got them all";

    // A held for 40 packets, then 20 more: its next report counts the hold
    // lost and nothing else.
    for (int i = 30; i < 90; ++i)
        unsent.OnSent(static_cast<uint16_t>(65530 + i), i < 70 ? std::vector{kA} : std::vector<rtp::RTPIPv4Address>{});
    EXPECT_DOUBLE_EQ(unsent.ShareLost(kA, static_cast<uint16_t>(65530 + 89), 12 + 40, Fraction(40, 60), 2.0), 0);
    // Loss of what it was sent still shows, numbers a resend filled in too.
    for (int i = 90; i < 110; ++i) unsent.OnSent(static_cast<uint16_t>(65530 + i), {});
    EXPECT_DOUBLE_EQ(unsent.ShareLost(kA, static_cast<uint16_t>(65530 + 109), 52 + 5, Fraction(5, 20), 3.0), 0.25);
}
}  // namespace

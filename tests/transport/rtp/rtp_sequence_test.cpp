#include "transport/rtp/rtp_jitter.h"
#include "transport/rtp/rtp_sequence.h"

#include <gtest/gtest.h>

namespace {

using rtp::RTPSequenceValidator;
using Result = RTPSequenceValidator::Result;

TEST(SequenceWrap, DistanceAndOrderAcrossTheWrap) {
    EXPECT_EQ(rtp::SequenceDistance(0, 65535), 1);
    EXPECT_EQ(rtp::SequenceDistance(65535, 0), -1);
    EXPECT_EQ(rtp::SequenceDistance(5, 5), 0);
    EXPECT_EQ(rtp::SequenceDistance(32767, 0), 32767);
    EXPECT_EQ(rtp::SequenceDistance(32768, 0), -32768);
    EXPECT_TRUE(rtp::SequenceIsNewer(2, 65530));
    EXPECT_FALSE(rtp::SequenceIsNewer(65530, 2));
    EXPECT_FALSE(rtp::SequenceIsNewer(7, 7));
}

TEST(SequenceValidator, ProbationHoldsTheFirstPacketAndValidatesOnTheSecond) {
    RTPSequenceValidator v;
    v.Start(100, 2);
    EXPECT_EQ(v.Update(100), Result::kHeld);
    EXPECT_TRUE(v.InProbation());
    EXPECT_EQ(v.Update(101), Result::kValidated);
    EXPECT_FALSE(v.InProbation());
    EXPECT_EQ(v.GetBaseSequence(), 101u);
    EXPECT_EQ(v.GetReceived(), 1u);
    EXPECT_EQ(v.Update(102), Result::kAccepted);
    EXPECT_EQ(v.GetExtendedHighest(), 102u);
    EXPECT_EQ(v.GetCumulativeLost(), 0);
}

TEST(SequenceValidator, OutOfOrderDuringProbationStartsItAgain) {
    RTPSequenceValidator v;
    v.Start(100, 2);
    EXPECT_EQ(v.Update(100), Result::kHeld);
    EXPECT_EQ(v.Update(105), Result::kProbationRestarted);
    EXPECT_TRUE(v.InProbation());
    EXPECT_EQ(v.Update(106), Result::kValidated);
}

TEST(SequenceValidator, WrapCountsACycle) {
    RTPSequenceValidator v;
    v.Start(65534, 0);
    EXPECT_EQ(v.Update(65534), Result::kAccepted);
    EXPECT_EQ(v.Update(65535), Result::kAccepted);
    EXPECT_EQ(v.Update(0), Result::kAccepted);
    EXPECT_EQ(v.Update(1), Result::kAccepted);
    EXPECT_EQ(v.GetExtendedHighest(), 65536u + 1);
    EXPECT_EQ(v.GetReceived(), 4u);
    EXPECT_EQ(v.GetCumulativeLost(), 0);
}

TEST(SequenceValidator, LargeJumpIsRejectedOnceThenTakenAsARestart) {
    RTPSequenceValidator v;
    v.Start(10, 0);
    v.Update(10);
    v.Update(11);
    EXPECT_EQ(v.Update(20000), Result::kRejected);
    EXPECT_EQ(v.GetExtendedHighest(), 11u);
    EXPECT_EQ(v.Update(20001), Result::kAccepted);  // two in a row: the sender restarted
    EXPECT_EQ(v.GetBaseSequence(), 20001u);
    EXPECT_EQ(v.GetExtendedHighest(), 20001u);
}

TEST(SequenceValidator, LateAndDuplicatePacketsAreAcceptedWithoutMovingTheHighest) {
    RTPSequenceValidator v;
    v.Start(500, 0);
    v.Update(500);
    v.Update(502);
    EXPECT_EQ(v.Update(501), Result::kAccepted);
    EXPECT_EQ(v.Update(501), Result::kAccepted);
    EXPECT_EQ(v.GetExtendedHighest(), 502u);
    // Four received for three expected: a negative loss, as RFC 3550 allows.
    EXPECT_EQ(v.GetCumulativeLost(), -1);
}

TEST(SequenceValidator, FractionLostCoversTheIntervalSinceTheLastReport) {
    RTPSequenceValidator v;
    v.Start(0, 0);
    for (uint16_t s = 0; s < 100; ++s)
        if (s % 4 != 3) v.Update(s);  // 25 of 100 lost, the last one (99) too
    v.Update(100);
    EXPECT_EQ(v.GetCumulativeLost(), 25);
    EXPECT_EQ(v.TakeFractionLost(), 25 * 256 / 101);
    for (uint16_t s = 101; s < 201; ++s) v.Update(s);
    EXPECT_EQ(v.TakeFractionLost(), 0);  // nothing lost in the new interval
    EXPECT_EQ(v.GetCumulativeLost(), 25);
}

TEST(Jitter, ConstantTransitGivesNoJitterAndAlternatingDelayConverges) {
    rtp::RTPJitterEstimator steady;
    for (uint32_t i = 0; i < 50; ++i) steady.Update(1000 + i * 160, 5000.0 + i * 160);
    EXPECT_EQ(steady.GetJitter(), 0u);

    rtp::RTPJitterEstimator alternating;
    for (uint32_t i = 0; i < 400; ++i) alternating.Update(i * 160, i * 160 + (i % 2 ? 80.0 : 0.0));
    EXPECT_NEAR(alternating.GetJitter(), 80.0, 1.0);  // |D| is 80 every time

    rtp::RTPJitterEstimator wrapping;  // timestamps crossing 2^32 are not a jump
    for (uint32_t i = 0; i < 50; ++i) wrapping.Update(0xFFFFFF00u + i * 160, 1e6 + i * 160);
    EXPECT_EQ(wrapping.GetJitter(), 0u);
}

}  // namespace

#include "tests/transport/rtp/rtp_test_support.h"
#include "transport/rtp/rtcp_scheduler.h"
#include "transport/rtp/rtp_defaults.h"

#include <gtest/gtest.h>

namespace {

constexpr double kCompensation = 2.71828 - 1.5;
// Compound bytes that make the average exactly 100 with the 28 bytes of IP/UDP.
constexpr double kFirstBytes = 72;

rtp::RTCPSchedulerSettings Defaults() {
    return {rtp::kDefaultSessionBandwidthBytesPerSecond, rtp::kDefaultControlTrafficFraction,
            rtp::kDefaultSenderControlFraction, rtp::kDefaultMinimumRTCPIntervalSeconds, true};
}

class RTCPSchedulerTest : public ::testing::Test {
protected:
    rtp_testing::FixedRandom random{1, 0.5};  // randomisation factor exactly 1
    rtp::RTCPScheduler scheduler{Defaults(), random};
};

TEST_F(RTCPSchedulerTest, SmallSessionsUseTheMinimumHalvedAtStartUp) {
    scheduler.Start(0, kFirstBytes, {2, 0, false});
    EXPECT_DOUBLE_EQ(scheduler.GetAverageCompoundBytes(), 100);
    EXPECT_DOUBLE_EQ(scheduler.DeterministicInterval({2, 0, false}, true), 2.5);
    EXPECT_DOUBLE_EQ(scheduler.DeterministicInterval({2, 0, false}, false), 5.0);
    EXPECT_DOUBLE_EQ(scheduler.TimeoutInterval({2, 1, true}), 5.0);
    EXPECT_DOUBLE_EQ(scheduler.GetNextTime(), 2.5 / kCompensation);
}

TEST_F(RTCPSchedulerTest, BandwidthSharesOfSendersAndReceivers) {
    scheduler.Start(0, kFirstBytes, {1, 0, false});
    // Control bandwidth 500 B/s: receivers share 375, a few senders 125.
    EXPECT_DOUBLE_EQ(scheduler.DeterministicInterval({1000, 1, false}, false), 100.0 * 999 / 375);
    EXPECT_DOUBLE_EQ(scheduler.DeterministicInterval({1000, 200, true}, false), 100.0 * 200 / 125);
    // Senders above a quarter of the members: everyone shares all 500.
    EXPECT_DOUBLE_EQ(scheduler.DeterministicInterval({100, 50, true}, false), 100.0 * 100 / 500);
    EXPECT_DOUBLE_EQ(scheduler.DeterministicInterval({100, 50, false}, false), 100.0 * 100 / 500);
}

TEST(RTCPSchedulerRandom, TheFactorSpansHalfToOneAndAHalf) {
    for (const double fraction : {0.0, 0.999999}) {
        rtp_testing::FixedRandom random{1, fraction};
        rtp::RTCPScheduler scheduler(Defaults(), random);
        scheduler.Start(0, kFirstBytes, {2, 0, false});
        const double factor = 0.5 + fraction;
        EXPECT_NEAR(scheduler.RandomizedInterval({2, 0, false}, false), 5.0 * factor / kCompensation, 1e-5);
    }
}

TEST_F(RTCPSchedulerTest, FirstReportAtExpiryThenReconsideration) {
    scheduler.Start(0, kFirstBytes, {1, 0, false});
    const double first = 2.5 / kCompensation;
    EXPECT_FALSE(scheduler.IsTimeToSend(first - 0.01, {1, 0, false}));
    ASSERT_TRUE(scheduler.IsTimeToSend(first, {1, 0, false}));
    scheduler.OnSent(first, 72, {1, 0, false});
    // The draw after the first report still uses the start-up minimum.
    EXPECT_DOUBLE_EQ(scheduler.GetNextTime(), first + 2.5 / kCompensation);

    // At that expiry the full interval since the last report has not passed:
    // the report is put off to last + T.
    const double expiry = scheduler.GetNextTime();
    EXPECT_FALSE(scheduler.IsTimeToSend(expiry, {1, 0, false}));
    EXPECT_DOUBLE_EQ(scheduler.GetNextTime(), first + 5.0 / kCompensation);
    EXPECT_TRUE(scheduler.IsTimeToSend(scheduler.GetNextTime(), {1, 0, false}));
}

TEST_F(RTCPSchedulerTest, AverageSizeFollowsSentAndReceivedCompounds) {
    scheduler.Start(0, kFirstBytes, {1, 0, false});
    scheduler.OnReceived(372);  // 400 with overhead
    EXPECT_DOUBLE_EQ(scheduler.GetAverageCompoundBytes(), 100 + (400 - 100) / 16.0);
    ASSERT_TRUE(scheduler.IsTimeToSend(10, {1, 0, false}));
    scheduler.OnSent(10, 72, {1, 0, false});
    EXPECT_DOUBLE_EQ(scheduler.GetAverageCompoundBytes(), 118.75 + (100 - 118.75) / 16.0);
}

TEST_F(RTCPSchedulerTest, LeavingMembersPullTheNextReportCloser) {
    scheduler.Start(0, kFirstBytes, {4, 0, false});
    ASSERT_TRUE(scheduler.IsTimeToSend(3, {4, 0, false}));
    scheduler.OnSent(3, 72, {4, 0, false});
    const double next = scheduler.GetNextTime();
    scheduler.OnMembersDecreased(4, 2);
    EXPECT_DOUBLE_EQ(scheduler.GetNextTime(), 4 + 0.5 * (next - 4));
    scheduler.OnMembersDecreased(4, 3);  // not fewer than before: unchanged
    EXPECT_DOUBLE_EQ(scheduler.GetNextTime(), 4 + 0.5 * (next - 4));
}

TEST_F(RTCPSchedulerTest, WeSentMeansSinceTheReportBeforeTheLast) {
    scheduler.Start(100, kFirstBytes, {1, 0, false});
    EXPECT_TRUE(scheduler.IsRecentSend(100.5));
    ASSERT_TRUE(scheduler.IsTimeToSend(200, {1, 0, false}));
    scheduler.OnSent(200, 72, {1, 0, false});
    EXPECT_TRUE(scheduler.IsRecentSend(150));
    ASSERT_TRUE(scheduler.IsTimeToSend(300, {1, 0, false}));
    scheduler.OnSent(300, 72, {1, 0, false});
    EXPECT_FALSE(scheduler.IsRecentSend(150));
    EXPECT_TRUE(scheduler.IsRecentSend(250));
}

TEST_F(RTCPSchedulerTest, ByeDelayStartsAFreshHalvedInterval) {
    scheduler.Start(0, kFirstBytes, {1, 0, false});
    EXPECT_DOUBLE_EQ(scheduler.BYEDelay(72), 2.5 / kCompensation);
}

}  // namespace

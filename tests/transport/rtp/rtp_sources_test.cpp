// The source table under SSRCs made up by strangers: what RTCP alone can
// create is bounded apart from the validated sources and never counts as a
// member; the validated have their own bound.
#include "tests/transport/rtp/rtp_test_support.h"
#include "transport/rtp/rtp_defaults.h"
#include "transport/rtp/rtp_packet_pool.h"
#include "transport/rtp/rtp_sources.h"

#include <gtest/gtest.h>

#include <string>

namespace {

constexpr double kVoiceTimestampUnit = 1.0 / 8000.0;
constexpr uint32_t kVoiceIncrement = 240;
const rtp::RTPIPv4Address kStranger(0x0A000009, 4001);
const rtp::RTPIPv4Address kPeer(rtp_testing::kLoopback, 11000);

class SourcesTest : public ::testing::Test {
protected:
    // Passes one RTP packet from `sender` to the table.
    void Receive(uint32_t ssrc, uint16_t sequence, const rtp::RTPIPv4Address& sender) {
        const auto datagram = rtp_testing::RtpDatagram(ssrc, sequence, sequence * kVoiceIncrement, "voice");
        rtp::RTPPacket* packet = pool.Acquire();
        ASSERT_TRUE(packet->Parse(datagram.data(), datagram.size(), now));
        sources.ProcessRTPPacket(packet, sender, now, kVoiceTimestampUnit);
        now += 0.02;
    }

    // Takes and gives back every packet ready for delivery; returns how many.
    int DeliverAll() {
        int delivered = 0;
        for (bool more = sources.GotoFirst(true); more; more = sources.GotoNext(true)) {
            while (rtp::RTPPacket* packet = sources.TakeNextPacket()) {
                EXPECT_TRUE(pool.Release(packet));
                ++delivered;
            }
        }
        return delivered;
    }

    rtp::RTPSession session;  // only for its (empty) callbacks
    rtp::RTPPacketPool pool;
    rtp::RTPSources sources{session, pool};
    double now = 1000;
};

TEST_F(SourcesTest, AStrangersRTCPSourcesNeitherKeepAPeerOutNorCountAsMembers) {
    // One compound's worth of reports, each announcing a CNAME.
    constexpr uint32_t kFirstFake = 0x5000;
    constexpr uint32_t kFakes = 1024;
    const std::string cname = "x@y";
    for (uint32_t ssrc = kFirstFake; ssrc < kFirstFake + kFakes; ++ssrc) {
        rtp::RTPSourceData* source = sources.ProcessRTCPSource(ssrc, kStranger, now);
        ASSERT_NE(source, nullptr);
        sources.ProcessCNAME(source, reinterpret_cast<const uint8_t*>(cname.data()), cname.size(), kStranger);
    }
    EXPECT_EQ(sources.CountMembers(), 0);
    EXPECT_EQ(sources.CountUnvalidated(), rtp::kMaximumUnvalidatedSources);
    EXPECT_EQ(sources.Find(kFirstFake), nullptr);  // the oldest made room
    EXPECT_NE(sources.Find(kFirstFake + kFakes - 1), nullptr);

    constexpr int kFrames = 200;
    for (int i = 0; i < kFrames; ++i) Receive(0xBEEF, static_cast<uint16_t>(i), kPeer);
    EXPECT_EQ(DeliverAll(), kFrames);
    EXPECT_EQ(sources.CountMembers(), 1);
}

// An SSRC stays with the address it came from, until the table forgets that
// address; its waiting packets go back to the pool then.
TEST_F(SourcesTest, AForgottenAddressLetsItsSsrcComeBackFromAnother) {
    const rtp::RTPIPv4Address moved(rtp_testing::kLoopback, 12000);
    for (uint16_t sequence = 1; sequence <= 3; ++sequence) Receive(0x1234, sequence, kPeer);
    EXPECT_GT(DeliverAll(), 0);
    Receive(0x1234, 4, moved);
    EXPECT_EQ(DeliverAll(), 0) << "the same SSRC from elsewhere is another participant's";
    Receive(0x1234, 5, kPeer);
    EXPECT_EQ(sources.ForgetSourcesFrom(moved), 0);
    EXPECT_EQ(sources.ForgetSourcesFrom(kPeer), 1) << "a member";
    EXPECT_FALSE(sources.Contains(0x1234));
    EXPECT_EQ(pool.GetInUse(), 0u) << "the waiting packet went back";
    for (uint16_t sequence = 6; sequence <= 8; ++sequence) Receive(0x1234, sequence, moved);
    EXPECT_GT(DeliverAll(), 0);
    EXPECT_EQ(*sources.Find(0x1234)->GetRTPDataAddress(), moved);
}

TEST_F(SourcesTest, ValidatedSourcesBeyondTheirBoundStayInProbation) {
    for (uint32_t ssrc = 1; ssrc <= rtp::kMaximumValidatedSources + 1; ++ssrc) {
        Receive(ssrc, 1, kStranger);
        Receive(ssrc, 2, kStranger);
    }
    EXPECT_EQ(sources.CountMembers(), static_cast<int>(rtp::kMaximumValidatedSources));
    const rtp::RTPSourceData* last = sources.Find(rtp::kMaximumValidatedSources + 1);
    ASSERT_NE(last, nullptr);
    EXPECT_FALSE(last->IsValidated());
    EXPECT_EQ(DeliverAll(), 2 * static_cast<int>(rtp::kMaximumValidatedSources));
    EXPECT_EQ(pool.GetInUse(), 0u);  // the refused packets went back too
}

}  // namespace

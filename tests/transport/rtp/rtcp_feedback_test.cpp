// Feedback messages: the bytes we build against fixed vectors, reading them
// back, and sessions that send and report them.
#include "tests/support/udp_peer.h"
#include "tests/transport/rtp/rtp_test_support.h"
#include "transport/rtp/rtcp_builder.h"
#include "transport/rtp/rtcp_nack.h"
#include "transport/rtp/rtcp_pli.h"
#include "transport/rtp/rtcp_remb.h"
#include "transport/rtp/rtp_errors.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using rtp_testing::kLoopback;
using rtp_testing::PollUntil;

// NACK from 0x11223344 about 0x55667788 for 100, 101, 105, 117, 118: two entries.
const std::vector<uint8_t> kNACK = {0x81, 205,  0, 4,   0x11, 0x22, 0x33, 0x44, 0x55, 0x66,
                                    0x77, 0x88, 0, 100, 0x00, 0x11, 0,    117,  0x00, 0x01};
const std::vector<uint8_t> kPLI = {0x81, 206, 0, 2, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88};

// REMB from 0x11223344: 1,000,000 bits/s (250000 << 2) for 0x55667788.
const std::vector<uint8_t> kREMB = {0x8F, 206, 0,   5,   0x11, 0x22, 0x33, 0x44, 0,    0,    0,    0,
                                    'R',  'E', 'M', 'B', 1,    0x0B, 0xD0, 0x90, 0x55, 0x66, 0x77, 0x88};

rtp::RTCPPacket AsPacket(const std::vector<uint8_t>& bytes) { return {bytes.data(), bytes.size()}; }

TEST(RTCPFeedback, REMBIsBuiltAsTheFixedBytesAndReadBack) {
    ASSERT_EQ(kREMB.size(), rtp::RTCPCompoundBuilder::REMBBytes(1));
    ASSERT_EQ((kREMB[2] << 8 | kREMB[3]) + 1, static_cast<int>(kREMB.size() / 4)) << "the vector's own length field";
    rtp::RTCPCompoundBuilder builder(1500);
    const uint32_t media = 0x55667788;
    ASSERT_TRUE(builder.AddREMB(0x11223344, 1'000'000, &media, 1));
    EXPECT_EQ(std::vector<uint8_t>(builder.GetData(), builder.GetData() + builder.GetLength()), kREMB);

    rtp::RTCPREMBReader reader;
    ASSERT_TRUE(reader.Parse(AsPacket(kREMB)));
    EXPECT_EQ(reader.GetSenderSSRC(), 0x11223344u);
    EXPECT_EQ(reader.GetBitsPerSecond(), 1'000'000u);
    EXPECT_EQ(reader.GetSSRCs(), std::vector<uint32_t>{media});
    // Rates beyond the mantissa lose their low bits only.
    uint8_t exponent = 0;
    uint32_t mantissa = 0;
    rtp::EncodeREMBRate(123'456'789, &exponent, &mantissa);
    EXPECT_LE(uint64_t{mantissa} << exponent, 123'456'789u);
    EXPECT_GT(uint64_t{mantissa + 1} << exponent, 123'456'789u);

    // A PLI is no REMB; a REMB promising more SSRCs than it holds is malformed.
    EXPECT_FALSE(reader.Parse(AsPacket(kPLI)));
    std::vector<uint8_t> truncated = kREMB;
    truncated[16] = 2;
    EXPECT_FALSE(reader.Parse(AsPacket(truncated)));
}

TEST(RTCPFeedback, NACKAndPLIAreBuiltAsTheFixedBytes) {
    const uint16_t lost[] = {100, 101, 105, 117, 118, 118};
    rtp::RTCPCompoundBuilder builder(1400);
    ASSERT_TRUE(builder.AddNACK(0x11223344, 0x55667788, lost, 6));
    ASSERT_TRUE(builder.AddPLI(0x11223344, 0x55667788));
    std::vector<uint8_t> expected = kNACK;
    expected.insert(expected.end(), kPLI.begin(), kPLI.end());
    EXPECT_EQ(std::vector<uint8_t>(builder.GetData(), builder.GetData() + builder.GetLength()), expected);
    EXPECT_FALSE(builder.AddNACK(1, 2, lost, 0));

    rtp::RTCPCompoundBuilder small(rtp::RTCPCompoundBuilder::PLIBytes() + 3);
    EXPECT_TRUE(small.AddPLI(1, 2));
    EXPECT_FALSE(small.AddNACK(1, 2, lost, 1));
}

TEST(RTCPFeedback, EntriesPackAcrossTheSequenceWrap) {
    const uint16_t lost[] = {65535, 0, 15, 16};
    const auto entries = rtp::PackNACKEntries(lost, 4);
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].pid, 65535);
    EXPECT_EQ(entries[0].blp, 0x8001);  // 0 is PID + 1, 15 is PID + 16
    EXPECT_EQ(entries[1].pid, 16);
    EXPECT_EQ(entries[1].blp, 0);
}

TEST(RTCPFeedback, ReadersTakeTheFixedBytesAndRefuseOthers) {
    rtp::RTCPNACKReader nack;
    ASSERT_TRUE(nack.Parse(AsPacket(kNACK)));
    EXPECT_EQ(nack.GetSenderSSRC(), 0x11223344u);
    EXPECT_EQ(nack.GetMediaSSRC(), 0x55667788u);
    EXPECT_EQ(nack.GetLostSequenceNumbers(), (std::vector<uint16_t>{100, 101, 105, 117, 118}));
    EXPECT_FALSE(nack.Parse(AsPacket(kPLI)));

    rtp::RTCPPLIReader pli;
    ASSERT_TRUE(pli.Parse(AsPacket(kPLI)));
    EXPECT_EQ(pli.GetMediaSSRC(), 0x55667788u);
    EXPECT_FALSE(pli.Parse(AsPacket(kNACK)));

    // A NACK without a whole entry, and a PLI without its media SSRC.
    const std::vector<uint8_t> noEntry(kNACK.begin(), kNACK.begin() + 12);
    std::vector<uint8_t> shortNack = noEntry;
    shortNack[3] = 2;
    EXPECT_FALSE(nack.Parse(AsPacket(shortNack)));
    const std::vector<uint8_t> shortPli = {0x81, 206, 0, 1, 1, 2, 3, 4};
    EXPECT_FALSE(pli.Parse(AsPacket(shortPli)));
}

class FeedbackSession : public rtp_testing::RecordingSession {
public:
    struct Received {
        rtp::RTCPFeedbackKind kind;
        uint32_t sender, media;
        std::vector<uint16_t> lost;
    };
    std::vector<Received> received;  // read after polling on the test thread

protected:
    void OnFeedback(rtp::RTCPFeedbackKind kind, uint32_t senderSSRC, uint32_t mediaSSRC, const uint16_t* lost,
                    size_t lostCount, double, const rtp::RTPIPv4Address*) override {
        received.push_back({kind, senderSSRC, mediaSSRC, std::vector<uint16_t>(lost, lost + lostCount)});
    }
};

class FeedbackPairTest : public ::testing::Test {
protected:
    void SetUp() override {
        portA = rtp_testing::CreateOnFreePort(a, rtp_testing::TestParams(&clock, &randomA, false));
        portB = rtp_testing::CreateOnFreePort(b, rtp_testing::TestParams(&clock, &randomB, false));
        ASSERT_NE(portA, 0);
        ASSERT_NE(portB, 0);
    }

    rtp_testing::FakeClock clock;
    rtp_testing::FixedRandom randomA{0x10000}, randomB{0x20000};
    FeedbackSession a, b;
    uint16_t portA = 0, portB = 0;
};

TEST_F(FeedbackPairTest, FeedbackGoesToOneAddressAtOnceAndKeepsItsSpacing) {
    const uint16_t lost[] = {7, 9};
    const rtp::RTCPFeedbackRequest messages[] = {{rtp::RTCPFeedbackKind::kGenericNACK, 0xABCD, lost, 2},
                                                 {rtp::RTCPFeedbackKind::kPictureLoss, 0xABCD, nullptr, 0}};
    const rtp::RTPIPv4Address toB{kLoopback, portB};
    EXPECT_GT(a.SendFeedback(toB, messages, 2, 0.1), 0);
    EXPECT_EQ(a.receiverReportsSent, 1);  // RR + SDES + feedback, seen as sent
    ASSERT_TRUE(PollUntil(b, [&] { return b.received.size() == 2; }));
    EXPECT_EQ(b.received[0].kind, rtp::RTCPFeedbackKind::kGenericNACK);
    EXPECT_EQ(b.received[0].sender, a.GetLocalSSRC());
    EXPECT_EQ(b.received[0].media, 0xABCDu);
    EXPECT_EQ(b.received[0].lost, (std::vector<uint16_t>{7, 9}));
    EXPECT_EQ(b.received[1].kind, rtp::RTCPFeedbackKind::kPictureLoss);
    EXPECT_EQ(b.unknownTypes + b.unknownFormats, 0);
    b.BeginDataAccess();
    EXPECT_NE(b.GetSourceInfo(a.GetLocalSSRC()), nullptr);  // the RR made the sender known
    b.EndDataAccess();

    EXPECT_EQ(a.SendFeedback(toB, messages + 1, 1, 0.1), rtp::kErrorFeedbackTooSoon);
    EXPECT_GT(a.SendFeedback({kLoopback, portA}, messages + 1, 1, 0.1), 0);  // another address
    clock.Advance(0.11);
    EXPECT_GT(a.SendFeedback(toB, messages + 1, 1, 0.1), 0);
    const rtp::RTCPFeedbackRequest emptyNack{rtp::RTCPFeedbackKind::kGenericNACK, 1, lost, 0};
    EXPECT_EQ(a.SendFeedback(toB, &emptyNack, 1, 0), rtp::kErrorInvalidParameter);
    EXPECT_EQ(a.SendFeedback({kLoopback, 0xFFFF}, messages + 1, 1, 0), rtp::kErrorInvalidAddress);
}

// Frequent NACKs must not hold back a picture loss indication, nor the other
// way round: each kind keeps its own spacing per address.
TEST_F(FeedbackPairTest, EachFeedbackKindKeepsItsOwnSpacing) {
    const uint16_t lost[] = {7};
    const rtp::RTCPFeedbackRequest nack{rtp::RTCPFeedbackKind::kGenericNACK, 0xABCD, lost, 1};
    const rtp::RTCPFeedbackRequest pli{rtp::RTCPFeedbackKind::kPictureLoss, 0xABCD, nullptr, 0};
    const rtp::RTPIPv4Address toB{kLoopback, portB};
    EXPECT_GT(a.SendFeedback(toB, &nack, 1, 0.02), 0);
    EXPECT_GT(a.SendFeedback(toB, &pli, 1, 0.2), 0);
    EXPECT_EQ(a.SendFeedback(toB, &nack, 1, 0.02), rtp::kErrorFeedbackTooSoon);
    clock.Advance(0.03);
    EXPECT_GT(a.SendFeedback(toB, &nack, 1, 0.02), 0);
    EXPECT_EQ(a.SendFeedback(toB, &pli, 1, 0.2), rtp::kErrorFeedbackTooSoon);
    ASSERT_TRUE(PollUntil(b, [&] { return b.received.size() == 3; }));
}

TEST_F(FeedbackPairTest, OtherFeedbackIsUnknownAndBrokenFeedbackMalformed) {
    testing_support::UdpPeer peer;
    const std::vector<uint8_t> compound = {
        0x80, 201, 0, 1, 0, 0, 0x77, 0x77,                                            // RR
        0x84, 206, 0, 4, 0, 0, 0x77, 0x77, 0, 0, 0,    0,    1, 2, 3, 4, 5, 0, 0, 0,  // FMT 4 (not read)
        0x81, 205, 0, 2, 0, 0, 0x77, 0x77, 0, 0, 0xAB, 0xCD,                          // NACK without entries
        0x81, 206, 0, 2, 0, 0, 0x77, 0x77, 0, 0, 0xAB, 0xCD,                          // PLI
    };
    peer.SendTo(kLoopback, portB + 1, compound.data(), compound.size());
    ASSERT_TRUE(PollUntil(b, [&] { return b.rtcpCompoundsReceived == 1; }));
    EXPECT_EQ(b.unknownTypes, 1);
    EXPECT_EQ(b.unknownFormats, 1);
    ASSERT_EQ(b.received.size(), 1u);
    EXPECT_EQ(b.received[0].sender, 0x7777u);
    EXPECT_EQ(b.received[0].media, 0xABCDu);
}

}  // namespace

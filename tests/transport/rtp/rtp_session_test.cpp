// Sessions without poll threads on loopback sockets, driven by a clock and
// random source the test controls.
#include "tests/support/udp_peer.h"
#include "tests/transport/rtp/rtp_test_support.h"
#include "transport/rtp/rtp_errors.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

using rtp_testing::kLoopback;
using rtp_testing::PollUntil;
using rtp_testing::RtpDatagram;
using testing_support::ParseRtp;
using testing_support::UdpPeer;

constexpr double kCompensation = 2.71828 - 1.5;
constexpr uint32_t kVoiceIncrement = 240;
constexpr uint8_t kVoicePayloadType = 102;

class SessionPairTest : public ::testing::Test {
protected:
    void SetUp() override {
        portA = rtp_testing::CreateOnFreePort(a, rtp_testing::TestParams(&clock, &randomA, false));
        portB = rtp_testing::CreateOnFreePort(b, rtp_testing::TestParams(&clock, &randomB, false));
        ASSERT_NE(portA, 0);
        ASSERT_NE(portB, 0);
        ASSERT_EQ(a.AddDestination({kLoopback, portB}), 0);
        ASSERT_EQ(b.AddDestination({kLoopback, portA}), 0);
        a.SetDefaultPayloadType(kVoicePayloadType);
        a.SetDefaultTimestampIncrement(kVoiceIncrement);
    }

    // Sends from `from` and waits until `to` has taken it in.
    void SendAndReceive(rtp_testing::RecordingSession& from, rtp_testing::RecordingSession& to,
                        const std::string& payload = "voice") {
        const size_t before = PacketsAt(to);
        ASSERT_EQ(from.SendPacket(payload.data(), payload.size()), 0);
        ASSERT_TRUE(PollUntil(to, [&] { return PacketsAt(to) > before; }));
    }

    // Packets the session has ever accepted, held ones included.
    static size_t PacketsAt(rtp::RTPSession& session) {
        size_t count = 0;
        session.BeginDataAccess();
        for (bool more = session.GotoFirstSource(); more; more = session.GotoNextSource())
            count += session.GetCurrentSourceInfo()->INF_GetNumPacketsReceived() + 1;
        session.EndDataAccess();
        return count;
    }

    // Takes every waiting packet: (sequence number, payload) in order.
    static std::vector<std::pair<uint16_t, std::string>> TakeAll(rtp::RTPSession& session) {
        std::vector<std::pair<uint16_t, std::string>> taken;
        session.BeginDataAccess();
        for (bool more = session.GotoFirstSourceWithData(); more; more = session.GotoNextSourceWithData()) {
            while (rtp::RTPPacket* packet = session.GetNextPacket()) {
                taken.emplace_back(packet->GetSequenceNumber(),
                                   std::string(reinterpret_cast<const char*>(packet->GetPayloadData()),
                                               packet->GetPayloadLength()));
                session.DeletePacket(packet);
            }
        }
        session.EndDataAccess();
        return taken;
    }

    // Moves the clock on to the session's next RTCP time until it sends
    // (reconsideration may put the report off once).
    void SendRTCP(rtp_testing::RecordingSession& session) {
        const int sent = session.senderReportsSent + session.receiverReportsSent;
        for (int i = 0; i < 3 && session.senderReportsSent + session.receiverReportsSent == sent; ++i) {
            clock.Set(std::max(clock.Now(), session.GetNextRTCPTime()));
            session.Poll();
        }
        ASSERT_GT(session.senderReportsSent + session.receiverReportsSent, sent);
    }

    rtp_testing::FakeClock clock;
    rtp_testing::FixedRandom randomA{0x10000};
    // b's reports come later than a's, so each side reports in turn.
    rtp_testing::FixedRandom randomB{0x20000, 0.9};
    rtp_testing::RecordingSession a, b;
    uint16_t portA = 0, portB = 0;
};

TEST_F(SessionPairTest, TheFirstReportIsDueAfterHalfTheMinimumInterval) {
    rtp_testing::FakeClock fresh;
    rtp_testing::FixedRandom random;
    rtp_testing::RecordingSession session;
    ASSERT_NE(rtp_testing::CreateOnFreePort(session, rtp_testing::TestParams(&fresh, &random, false)), 0);
    EXPECT_NEAR(session.GetNextRTCPTime() - fresh.Now(), 2.5 / kCompensation, 1e-6);
    EXPECT_EQ(session.GetLocalSSRC(), 0x1000u);  // the first draw
}

TEST(SessionRTCP, AReportThatCannotBeBuiltIsPutOffNotRetriedAtOnce) {
    rtp_testing::FakeClock clock;
    rtp_testing::FixedRandom random;
    rtp_testing::RecordingSession session;
    auto params = rtp_testing::TestParams(&clock, &random, false);
    params.SetMaximumPacketSize(rtp::kMinimumMaximumPacketBytes);
    params.SetCNAME(std::string(100, 'c'));  // its SDES alone exceeds the limit
    ASSERT_NE(rtp_testing::CreateOnFreePort(session, params), 0);
    clock.Set(session.GetNextRTCPTime());
    session.Poll();
    EXPECT_EQ(session.receiverReportsSent, 0);
    EXPECT_NEAR(session.GetNextRTCPTime() - clock.Now(), 2.5 / kCompensation, 1e-6);
}

TEST_F(SessionPairTest, SendPacketToTakesOneSequenceNumberAndLeavesTheTimestamp) {
    UdpPeer peer;
    SendAndReceive(a, b);
    SendAndReceive(a, b);
    ASSERT_EQ(a.SendPacketTo("HI", 2, 1, false, {kLoopback, peer.Port()}), 0);
    SendAndReceive(a, b);

    const auto hello = peer.Receive(1000);
    ASSERT_TRUE(hello);
    const auto view = ParseRtp(hello->bytes);
    ASSERT_TRUE(view);
    EXPECT_EQ(hello->fromPort, portA);  // from the session's RTP socket
    EXPECT_EQ(view->payloadType, 1);
    EXPECT_EQ(view->ssrc, a.GetLocalSSRC());
    EXPECT_EQ(std::string(view->payload.begin(), view->payload.end()), "HI");

    b.BeginDataAccess();
    ASSERT_TRUE(b.GotoFirstSourceWithData());
    std::vector<rtp::RTPPacket*> media;
    while (rtp::RTPPacket* p = b.GetNextPacket()) media.push_back(p);
    b.EndDataAccess();
    ASSERT_EQ(media.size(), 3u);
    EXPECT_EQ(static_cast<uint16_t>(view->sequence - 1), media[1]->GetSequenceNumber());
    EXPECT_EQ(static_cast<uint16_t>(view->sequence + 1), media[2]->GetSequenceNumber());
    EXPECT_EQ(view->timestamp, media[1]->GetTimestamp() + kVoiceIncrement);
    EXPECT_EQ(media[2]->GetTimestamp(), view->timestamp);
    EXPECT_EQ(media[2]->GetPayloadType(), kVoicePayloadType);
    for (rtp::RTPPacket* p : media) b.DeletePacket(p);

    // The sender report counts the media packets only.
    SendRTCP(a);
    ASSERT_TRUE(PollUntil(b, [&] { return b.rtcpCompoundsReceived > 0; }));
    b.BeginDataAccess();
    const rtp::RTPSourceData* source = b.GetSourceInfo(a.GetLocalSSRC());
    ASSERT_TRUE(source && source->SR_HasInfo());
    EXPECT_EQ(source->SR_GetPacketCount(), 3u);
    EXPECT_EQ(source->SR_GetByteCount(), 15u);
    b.EndDataAccess();
}

TEST_F(SessionPairTest, MediaAndReportsFlowBothWaysWithLossAndJitter) {
    constexpr int kPackets = 25;
    constexpr double kPacketSeconds = 0.03;  // 240 ticks at 8 kHz: steady transit
    for (int i = 0; i < kPackets; ++i) {
        const bool lost = i >= 10 && i < 15;
        if (lost) a.DeleteDestination({kLoopback, portB});
        if (lost)
            ASSERT_EQ(a.SendPacket("12345", 5), 0);
        else
            SendAndReceive(a, b, "12345");
        if (lost) a.AddDestination({kLoopback, portB});
        clock.Advance(kPacketSeconds);
    }
    EXPECT_EQ(TakeAll(b).size(), 20u);

    SendRTCP(a);
    EXPECT_GT(a.senderReportsSent, 0);
    ASSERT_TRUE(PollUntil(b, [&] { return b.rtcpCompoundsReceived > 0; }));
    SendRTCP(b);
    EXPECT_EQ(b.senderReportsSent, 0);  // b sent no media: receiver reports
    ASSERT_TRUE(PollUntil(a, [&] { return a.rtcpCompoundsReceived > 0; }));

    b.BeginDataAccess();
    const rtp::RTPSourceData* aAtB = b.GetSourceInfo(a.GetLocalSSRC());
    ASSERT_TRUE(aAtB);
    EXPECT_TRUE(aAtB->IsValidated());
    EXPECT_TRUE(aAtB->SR_HasInfo());
    EXPECT_EQ(aAtB->SR_GetPacketCount(), uint32_t{kPackets});
    EXPECT_EQ(aAtB->SR_GetByteCount(), uint32_t{kPackets * 5});
    EXPECT_EQ(aAtB->INF_GetNumPacketsLost(), 5);
    EXPECT_EQ(aAtB->INF_GetJitter(), 0u);
    size_t length = 0;
    const uint8_t* cname = aAtB->SDES_GetCNAME(&length);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(cname), length), "tester@loopback");
    ASSERT_TRUE(aAtB->GetRTPDataAddress());
    EXPECT_EQ(*aAtB->GetRTPDataAddress(), rtp::RTPIPv4Address(kLoopback, portA));
    ASSERT_TRUE(aAtB->GetRTCPDataAddress());
    EXPECT_EQ(*aAtB->GetRTCPDataAddress(), rtp::RTPIPv4Address(kLoopback, portA + 1));
    b.EndDataAccess();

    a.BeginDataAccess();
    const rtp::RTPSourceData* bAtA = a.GetSourceInfo(b.GetLocalSSRC());
    ASSERT_TRUE(bAtA);
    ASSERT_TRUE(bAtA->RR_HasInfo());
    EXPECT_EQ(bAtA->RR_GetPacketsLost(), 5);
    // Probation validated the second packet: 24 expected from there on.
    EXPECT_EQ(bAtA->RR_GetFractionLost(), 5 * 256 / 24);
    EXPECT_EQ(bAtA->RR_GetJitter(), 0u);
    EXPECT_FALSE(bAtA->IsSender());
    // Round trip from the report: arrival - LSR - DLSR, in 1/65536 s, is 0
    // on a clock that stands still while datagrams travel.
    const double ntpNow = bAtA->RR_GetReceiveTime() + rtp::kNTPEpochOffsetSeconds;
    const auto arrival = static_cast<uint32_t>(static_cast<uint64_t>(ntpNow * 65536.0));
    const uint32_t roundTrip = arrival - bAtA->RR_GetLastSRTimestamp() - bAtA->RR_GetDelaySinceLastSR();
    EXPECT_LE(static_cast<int32_t>(roundTrip) < 0 ? -static_cast<int32_t>(roundTrip) : static_cast<int32_t>(roundTrip),
              2);
    a.EndDataAccess();
}

TEST_F(SessionPairTest, ProbationHoldsTheFirstPacketAndDeliversBothInOrder) {
    UdpPeer peer;
    constexpr uint32_t kSSRC = 0xABCD;
    const auto first = RtpDatagram(kSSRC, 10, 0, "first");
    peer.SendTo(kLoopback, portB, first.data(), first.size());
    ASSERT_TRUE(PollUntil(b, [&] { return !b.newSources.empty(); }));
    b.BeginDataAccess();
    EXPECT_FALSE(b.GotoFirstSourceWithData());
    EXPECT_FALSE(b.GetSourceInfo(kSSRC)->IsValidated());
    b.EndDataAccess();

    const auto second = RtpDatagram(kSSRC, 11, 160, "second");
    peer.SendTo(kLoopback, portB, second.data(), second.size());
    ASSERT_TRUE(PollUntil(b, [&] { return PacketsAt(b) == 2; }));
    const auto taken = TakeAll(b);
    ASSERT_EQ(taken.size(), 2u);
    EXPECT_EQ(taken[0], (std::pair<uint16_t, std::string>{10, "first"}));
    EXPECT_EQ(taken[1], (std::pair<uint16_t, std::string>{11, "second"}));
    EXPECT_EQ(b.GetPacketsInUse(), 0u);
}

TEST_F(SessionPairTest, ABrokenProbationDropsWhatWasHeld) {
    UdpPeer peer;
    constexpr uint32_t kSSRC = 0xBEEF;
    for (const uint16_t sequence : {20, 25, 26}) {
        const auto datagram = RtpDatagram(kSSRC, sequence, sequence * 160u, std::to_string(sequence));
        peer.SendTo(kLoopback, portB, datagram.data(), datagram.size());
    }
    std::vector<std::pair<uint16_t, std::string>> taken;
    ASSERT_TRUE(PollUntil(b, [&] {
        const auto more = TakeAll(b);
        taken.insert(taken.end(), more.begin(), more.end());
        return taken.size() >= 2;
    }));
    ASSERT_EQ(taken.size(), 2u);
    EXPECT_EQ(taken[0].first, 25);
    EXPECT_EQ(taken[1].first, 26);
    EXPECT_EQ(b.GetPacketsInUse(), 0u);  // the dropped one went back to the pool
}

TEST(SessionCreate, BusyPortsAndBadSettingsGiveDistinctErrors) {
    rtp_testing::RecordingSession probe;
    const auto params = rtp_testing::TestParams(nullptr, nullptr, false);
    const uint16_t base = rtp_testing::CreateOnFreePort(probe, params);
    ASSERT_NE(base, 0);
    probe.Destroy();
    rtp::RTPUDPv4TransmissionParams transmission;
    transmission.SetBindIP(kLoopback);
    transmission.SetPortbase(base);
    rtp_testing::RecordingSession session;
    {
        rtp_testing::PortBlocker rtpTaken(base);
        ASSERT_TRUE(rtpTaken.IsBound());
        EXPECT_EQ(session.Create(params, &transmission), rtp::kErrorCannotBindRTPSocket);
    }
    {
        rtp_testing::PortBlocker rtcpTaken(static_cast<uint16_t>(base + 1));
        ASSERT_TRUE(rtcpTaken.IsBound());
        EXPECT_EQ(session.Create(params, &transmission), rtp::kErrorCannotBindRTCPSocket);
    }
    EXPECT_FALSE(session.IsActive());

    rtp::RTPUDPv4TransmissionParams odd = transmission;
    odd.SetPortbase(static_cast<uint16_t>(base + 1));
    EXPECT_EQ(session.Create(params, &odd), rtp::kErrorPortBaseNotEven);
    rtp::RTPUDPv4TransmissionParams foreign = transmission;
    foreign.SetBindIP(0xC0000201);  // 192.0.2.1: not an address of this host
    EXPECT_EQ(session.Create(params, &foreign), rtp::kErrorInvalidAddress);
    rtp::RTPSessionParams noUnit = params;
    noUnit.SetOwnTimestampUnit(0);
    EXPECT_EQ(session.Create(noUnit, &transmission), rtp::kErrorInvalidParameter);

    ASSERT_EQ(session.Create(params, &transmission), 0);
    EXPECT_TRUE(session.IsActive());
    EXPECT_EQ(session.Create(params, &transmission), rtp::kErrorAlreadyCreated);
}

TEST_F(SessionPairTest, SendRawDataLeavesFromEitherSocketAndRefusesOversizedData) {
    UdpPeer peer;
    ASSERT_EQ(a.SendRawData(true, "raw-rtp", 7, kLoopback, peer.Port()), 0);
    ASSERT_EQ(a.SendRawData(false, "raw-rtcp", 8, kLoopback, peer.Port()), 0);
    const auto fromRTP = peer.Receive(1000);
    const auto fromRTCP = peer.Receive(1000);
    ASSERT_TRUE(fromRTP && fromRTCP);
    EXPECT_EQ(fromRTP->fromPort, portA);
    EXPECT_EQ(std::string(fromRTP->bytes.begin(), fromRTP->bytes.end()), "raw-rtp");
    EXPECT_EQ(fromRTCP->fromPort, portA + 1);
    EXPECT_EQ(std::string(fromRTCP->bytes.begin(), fromRTCP->bytes.end()), "raw-rtcp");

    const std::vector<uint8_t> big(rtp::kDefaultMaximumPacketBytes + 1, 0x55);
    EXPECT_EQ(a.SendRawData(true, big.data(), big.size(), kLoopback, peer.Port()), rtp::kErrorPacketTooBig);
    EXPECT_EQ(a.SendPacketTo(big.data(), big.size() - 12, 1, false, {kLoopback, peer.Port()}), rtp::kErrorPacketTooBig);
    EXPECT_FALSE(peer.Receive(100));

    // Raising the limit lets it through.
    ASSERT_EQ(a.SetMaximumPacketSize(32768), 0);
    EXPECT_EQ(a.SendRawData(true, big.data(), big.size(), kLoopback, peer.Port()), 0);
    const auto bigDatagram = peer.Receive(1000);
    ASSERT_TRUE(bigDatagram);
    EXPECT_EQ(bigDatagram->bytes.size(), big.size());

    rtp_testing::RecordingSession closed;
    EXPECT_EQ(closed.SendRawData(true, "x", 1, kLoopback, peer.Port()), rtp::kErrorNotCreated);
    EXPECT_EQ(closed.SendPacket("x", 1), rtp::kErrorNotCreated);
}

TEST_F(SessionPairTest, TheReceiveFilterDropsRTPBeforeParsingButRTCPIsProcessed) {
    b.divertRTP = true;
    a.SendPacket("one", 3);
    a.SendPacket("two", 3);
    ASSERT_TRUE(PollUntil(b, [&] { return b.rawPackets.size() == 2; }));
    EXPECT_TRUE(b.newSources.empty());
    b.BeginDataAccess();
    EXPECT_FALSE(b.GotoFirstSource());
    b.EndDataAccess();
    const auto view = ParseRtp(b.rawPackets[0]);
    ASSERT_TRUE(view);
    EXPECT_EQ(std::string(view->payload.begin(), view->payload.end()), "one");

    SendRTCP(a);
    ASSERT_TRUE(PollUntil(b, [&] { return b.rtcpCompoundsReceived == 1; }));
    b.BeginDataAccess();
    const rtp::RTPSourceData* source = b.GetSourceInfo(a.GetLocalSSRC());
    ASSERT_TRUE(source);
    EXPECT_TRUE(source->SR_HasInfo());
    EXPECT_EQ(source->GetRTPDataAddress(), nullptr);
    b.EndDataAccess();

    b.divertRTP = false;
    SendAndReceive(a, b, "three");
    const auto taken = TakeAll(b);
    ASSERT_EQ(taken.size(), 1u);  // validated by its CNAME: no probation hold
    EXPECT_EQ(taken[0].second, "three");
    EXPECT_EQ(b.rawPackets.size(), 2u);
}

TEST_F(SessionPairTest, SilentSourcesStopBeingSendersThenTimeOut) {
    SendAndReceive(a, b);
    SendAndReceive(a, b);
    TakeAll(b);
    const uint32_t ssrcA = a.GetLocalSSRC();
    b.BeginDataAccess();
    EXPECT_TRUE(b.GetSourceInfo(ssrcA)->IsSender());
    b.EndDataAccess();

    // Two members: the interval is the 5 s minimum.
    clock.Advance(2 * 5.0 + 0.5);
    b.Poll();
    b.BeginDataAccess();
    ASSERT_TRUE(b.GetSourceInfo(ssrcA));
    EXPECT_FALSE(b.GetSourceInfo(ssrcA)->IsSender());
    b.EndDataAccess();
    EXPECT_TRUE(b.timeouts.empty());

    clock.Advance(3 * 5.0);
    b.Poll();
    EXPECT_EQ(b.timeouts, std::vector<uint32_t>{ssrcA});
    EXPECT_EQ(b.removedSources, std::vector<uint32_t>{ssrcA});
    b.BeginDataAccess();
    EXPECT_EQ(b.GetSourceInfo(ssrcA), nullptr);
    b.EndDataAccess();
}

TEST_F(SessionPairTest, ByeCarriesItsReasonAndTheSourceGoesAfterTheByeTimeout) {
    SendAndReceive(a, b);
    SendAndReceive(a, b);
    const uint32_t ssrcA = a.GetLocalSSRC();
    a.BYEDestroy(0, "Close", 5);
    EXPECT_FALSE(a.IsActive());
    EXPECT_EQ(a.byesSent, 1);
    EXPECT_EQ(a.senderReportsSent, 1);  // the BYE rides with a sender report
    ASSERT_TRUE(PollUntil(b, [&] { return !b.byePackets.empty(); }));
    b.BeginDataAccess();
    const rtp::RTPSourceData* source = b.GetSourceInfo(ssrcA);
    ASSERT_TRUE(source && source->ReceivedBYE());
    size_t length = 0;
    const uint8_t* reason = source->GetBYEReason(&length);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(reason), length), "Close");
    b.EndDataAccess();

    clock.Advance(5.5);
    b.Poll();
    EXPECT_EQ(b.byeTimeouts, std::vector<uint32_t>{ssrcA});
    EXPECT_TRUE(b.timeouts.empty());
    b.BeginDataAccess();
    EXPECT_EQ(b.GetSourceInfo(ssrcA), nullptr);
    b.EndDataAccess();
}

TEST_F(SessionPairTest, ByeLeavesAtOnceEvenWithFiftyMembersOrMore) {
    // 60 validated senders make the session too large for an immediate BYE.
    UdpPeer crowd;
    constexpr uint32_t kCrowd = 60;
    for (uint32_t ssrc = 1; ssrc <= kCrowd; ++ssrc) {
        for (uint16_t sequence = 1; sequence <= 2; ++sequence) {
            const auto datagram = RtpDatagram(ssrc, sequence, 0, "x");
            crowd.SendTo(kLoopback, portB, datagram.data(), datagram.size());
        }
        ASSERT_TRUE(PollUntil(b, [&] {
            const rtp::RTPSourceData* source = b.GetSourceInfo(ssrc);
            return source && source->IsValidated();
        }));
    }
    const uint32_t ssrcB = b.GetLocalSSRC();
    b.BYEDestroy(0, "Close", 5);
    EXPECT_EQ(b.byesSent, 1);
    ASSERT_TRUE(PollUntil(a, [&] { return !a.byePackets.empty(); }));
    EXPECT_EQ(a.byePackets, std::vector<uint32_t>{ssrcB});
}

TEST_F(SessionPairTest, OwnSSRCFromAnotherAddressIsACollisionAndItsReturnALoop) {
    UdpPeer peer;
    const uint32_t original = b.GetLocalSSRC();
    const auto colliding = RtpDatagram(original, 1, 0, "x");
    peer.SendTo(kLoopback, portB, colliding.data(), colliding.size());
    ASSERT_TRUE(PollUntil(b, [&] { return !b.ssrcCollisions.empty(); }));
    EXPECT_EQ(b.ssrcCollisions, std::vector<uint32_t>{0});  // 0: our own SSRC
    const uint32_t renewed = b.GetLocalSSRC();
    EXPECT_NE(renewed, original);
    EXPECT_EQ(b.byesSent, 1);  // the old SSRC said goodbye
    // The other participant keeps the SSRC: it is a source of ours now.
    EXPECT_EQ(b.newSources, std::vector<uint32_t>{original});
    // The old SSRC's BYE reached a.
    ASSERT_TRUE(PollUntil(a, [&] { return !a.byePackets.empty() || a.rtcpCompoundsReceived > 0; }));

    // Our new SSRC arriving from the conflicting address is our own traffic
    // looped back: dropped, no second collision.
    const auto looped = RtpDatagram(renewed, 7, 0, "loop");
    peer.SendTo(kLoopback, portB, looped.data(), looped.size());
    const auto marker = RtpDatagram(original, 2, 160, "y");
    peer.SendTo(kLoopback, portB, marker.data(), marker.size());
    ASSERT_TRUE(PollUntil(b, [&] { return PacketsAt(b) >= 2; }));
    EXPECT_EQ(b.ssrcCollisions.size(), 1u);
    EXPECT_EQ(b.GetLocalSSRC(), renewed);
    EXPECT_EQ(b.newSources.size(), 1u);
}

TEST_F(SessionPairTest, ThirdPartyCollisionKeepsTheFirstSender) {
    UdpPeer first, second;
    constexpr uint32_t kShared = 0x5151;
    for (uint16_t s = 1; s <= 2; ++s) {
        const auto datagram = RtpDatagram(kShared, s, s * 160u, "first");
        first.SendTo(kLoopback, portB, datagram.data(), datagram.size());
    }
    ASSERT_TRUE(PollUntil(b, [&] { return PacketsAt(b) == 2; }));
    const auto intruder = RtpDatagram(kShared, 3, 480, "second");
    second.SendTo(kLoopback, portB, intruder.data(), intruder.size());
    ASSERT_TRUE(PollUntil(b, [&] { return !b.ssrcCollisions.empty(); }));
    EXPECT_EQ(b.ssrcCollisions, std::vector<uint32_t>{kShared});
    const auto taken = TakeAll(b);
    ASSERT_EQ(taken.size(), 2u);
    EXPECT_EQ(taken[1].second, "first");
    b.BeginDataAccess();
    EXPECT_EQ(b.GetSourceInfo(kShared)->GetRTPDataAddress()->GetPort(), first.Port());
    b.EndDataAccess();
}

TEST_F(SessionPairTest, OwnPacketsSentToOurselvesAreDroppedUnlessAccepted) {
    ASSERT_EQ(a.AddDestination({kLoopback, portA}), 0);
    a.SendPacket("self", 4);
    a.SendPacket("self", 4);
    ASSERT_TRUE(PollUntil(b, [&] { return PacketsAt(b) == 2; }));
    a.WaitForIncomingData(0.2);
    a.Poll();
    EXPECT_TRUE(a.newSources.empty());
    EXPECT_TRUE(a.ssrcCollisions.empty());

    rtp_testing::FakeClock clock2;
    rtp_testing::FixedRandom random2{0x30000};
    rtp_testing::RecordingSession mirror;
    auto params = rtp_testing::TestParams(&clock2, &random2, false);
    params.SetAcceptOwnPackets(true);
    const uint16_t port = rtp_testing::CreateOnFreePort(mirror, params);
    ASSERT_NE(port, 0);
    mirror.AddDestination({kLoopback, port});
    mirror.SendPacket("self", 4);
    ASSERT_TRUE(PollUntil(mirror, [&] { return !mirror.newSources.empty(); }));
    EXPECT_EQ(mirror.newSources, std::vector<uint32_t>{mirror.GetLocalSSRC()});
}

TEST_F(SessionPairTest, ThePoolStopsGrowingInSteadyState) {
    for (int i = 0; i < 10; ++i) {
        SendAndReceive(a, b);
        TakeAll(b);
    }
    const size_t size = b.GetPacketPoolSize();
    EXPECT_LE(size, 2u);
    for (int i = 0; i < 200; ++i) {
        SendAndReceive(a, b);
        TakeAll(b);
    }
    EXPECT_EQ(b.GetPacketPoolSize(), size);
    EXPECT_EQ(b.GetPacketsInUse(), 0u);
}

TEST(SessionReceive, DatagramsBeyondTheReceiveLimitsAreDroppedUnread) {
    constexpr size_t kVoiceDatagramBytes = 63;  // 12-byte header, 51-byte payload
    constexpr size_t kRTCPLimitBytes = 200;
    rtp_testing::FakeClock clock;
    rtp_testing::FixedRandom random;
    rtp::RTPSessionParams params = rtp_testing::TestParams(&clock, &random, false);
    params.SetMaximumReceivedRTPBytes(kVoiceDatagramBytes);
    params.SetMaximumReceivedRTCPBytes(kRTCPLimitBytes);
    rtp_testing::RecordingSession session;
    const uint16_t port = rtp_testing::CreateOnFreePort(session, params);
    ASSERT_NE(port, 0);

    UdpPeer stranger;
    const auto oversized = RtpDatagram(7, 1, 0, std::string(kVoiceDatagramBytes - 11, 'x'));
    const auto voice = RtpDatagram(8, 1, 0, std::string(kVoiceDatagramBytes - 12, 'v'));
    // A receiver report with 9 blocks (224 bytes) and one with none (8 bytes).
    std::vector<uint8_t> largeReport = {0x89, 201, 0, 55, 0, 0, 0, 9};
    largeReport.resize(8 + 9 * 24);
    const std::vector<uint8_t> smallReport = {0x80, 201, 0, 1, 0, 0, 0, 10};
    stranger.SendTo(kLoopback, port, oversized.data(), oversized.size());
    stranger.SendTo(kLoopback, port, voice.data(), voice.size());
    stranger.SendTo(kLoopback, port + 1, largeReport.data(), largeReport.size());
    stranger.SendTo(kLoopback, port + 1, smallReport.data(), smallReport.size());
    ASSERT_TRUE(PollUntil(session, [&] { return session.newSources.size() == 2; }));
    std::sort(session.newSources.begin(), session.newSources.end());
    EXPECT_EQ(session.newSources, (std::vector<uint32_t>{8, 10}));
    EXPECT_EQ(session.rtcpCompoundsReceived, 1);
}

TEST_F(SessionPairTest, APacketIsTakenBackExactlyOnce) {
    SendAndReceive(a, b, "p1");
    SendAndReceive(a, b, "p2");
    b.BeginDataAccess();
    ASSERT_TRUE(b.GotoFirstSourceWithData());
    rtp::RTPPacket* first = b.GetNextPacket();
    rtp::RTPPacket* second = b.GetNextPacket();
    b.EndDataAccess();
    ASSERT_TRUE(first && second);
    EXPECT_EQ(b.GetPacketsInUse(), 2u);
    b.DeletePacket(first);
    b.DeletePacket(first);   // refused: already back
    a.DeletePacket(second);  // refused: not a's packet
    b.DeletePacket(nullptr);
    EXPECT_EQ(b.GetPacketsInUse(), 1u);
    b.DeletePacket(second);
    EXPECT_EQ(b.GetPacketsInUse(), 0u);

    // A corrupted free list would hand out the same packet twice.
    SendAndReceive(a, b, "p3");
    SendAndReceive(a, b, "p4");
    b.BeginDataAccess();
    ASSERT_TRUE(b.GotoFirstSourceWithData());
    rtp::RTPPacket* third = b.GetNextPacket();
    rtp::RTPPacket* fourth = b.GetNextPacket();
    b.EndDataAccess();
    ASSERT_TRUE(third && fourth);
    EXPECT_NE(third, fourth);

    // Packets held across Destroy stay readable and can still be given back.
    b.Destroy();
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(fourth->GetPayloadData()), fourth->GetPayloadLength()), "p4");
    b.DeletePacket(third);
    b.DeletePacket(fourth);
    EXPECT_EQ(b.GetPacketsInUse(), 0u);
}

TEST_F(SessionPairTest, UnknownRTCPPacketsAreSkippedAndAPPReported) {
    UdpPeer peer;
    const std::vector<uint8_t> compound = {
        0x80, 201, 0, 1, 0, 0, 0x77, 0x77,                                 // RR from 0x7777
        0x80, 205, 0, 1, 1, 2, 3,    4,                                    // unknown type 205
        0x80, 204, 0, 2, 0, 0, 0x77, 0x77, 'T', 'E', 'S', 'T',             // APP
        0x81, 202, 0, 3, 0, 0, 0x77, 0x77, 7,   2,   'h', 'i', 0, 0, 0, 0  // SDES NOTE
    };
    peer.SendTo(kLoopback, portB + 1, compound.data(), compound.size());
    ASSERT_TRUE(PollUntil(b, [&] { return b.rtcpCompoundsReceived == 1; }));
    EXPECT_EQ(b.unknownTypes, 1);
    EXPECT_EQ(b.appPackets, 1);
    b.BeginDataAccess();
    const rtp::RTPSourceData* source = b.GetSourceInfo(0x7777);
    ASSERT_TRUE(source);
    size_t length = 0;
    const uint8_t* note = source->SDES_GetNote(&length);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(note), length), "hi");
    b.EndDataAccess();

    // The note times out after 25 intervals; the source, never validated
    // and silent, after 5.
    clock.Advance(5 * 5.0 + 0.1);
    b.Poll();
    EXPECT_EQ(b.timeouts, std::vector<uint32_t>{0x7777});

    const std::vector<uint8_t> badVersion = {0x40, 201, 0, 1, 0, 0, 0, 1};
    peer.SendTo(kLoopback, portB + 1, badVersion.data(), badVersion.size());
    const std::vector<uint8_t> shortBye = {0x80, 201, 0, 1, 0, 0, 0, 1, 0x82, 203, 0, 1, 0, 0, 0, 1};
    peer.SendTo(kLoopback, portB + 1, shortBye.data(), shortBye.size());
    ASSERT_TRUE(PollUntil(b, [&] { return b.unknownFormats == 1; }));
    EXPECT_EQ(b.rtcpCompoundsReceived, 2);  // the bad version never counted as RTCP
}

}  // namespace

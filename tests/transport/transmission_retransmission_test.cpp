// Retransmission over loopback: a gap in a peer's video is asked for with a
// NACK until it is filled, a NACK is answered with the very packets to the
// peer that asked and within its budget, a duplicate is just another packet,
// and two transmissions count what they did for each other.
#include "transport/rtp/rtcp_builder.h"
#include "transport/rtp/rtcp_nack.h"
#include "transport/rtp/rtcp_packet.h"
#include "transport/video_retransmission_switch.h"
#include "transport_test_support.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <chrono>
#include <functional>

namespace {
using namespace transport_testing;
using testing_support::kLoopback;

constexpr uint8_t kVideo = transmission::kVideoPayloadType;

bool SendFrom(int fd, uint16_t toPort, const std::vector<uint8_t>& bytes) {
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = htonl(kLoopback);
    to.sin_port = htons(toPort);
    return sendto(fd, bytes.data(), bytes.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to) ==
           static_cast<ssize_t>(bytes.size());
}

uint16_t SequenceOf(const std::vector<uint8_t>& rtp) { return static_cast<uint16_t>(rtp[2] << 8 | rtp[3]); }

// The numbers every generic NACK in an RTCP compound asks for.
std::vector<uint16_t> NackedNumbers(const std::vector<uint8_t>& compound) {
    std::vector<uint16_t> numbers;
    rtp::RTCPCompoundPacket packets;
    if (!packets.Parse(compound.data(), compound.size())) return numbers;
    rtp::RTCPPacket packet;
    packets.GotoFirstPacket();
    while (packets.GetNextPacket(&packet)) {
        rtp::RTCPNACKReader nack;
        if (!nack.Parse(packet)) continue;
        const std::vector<uint16_t> lost = nack.GetLostSequenceNumbers();
        numbers.insert(numbers.end(), lost.begin(), lost.end());
    }
    return numbers;
}

// Of what `peer` received: the video RTP packets, or the numbers NACKed to it.
std::vector<std::vector<uint8_t>> VideoPackets(const UdpPortPair& peer) {
    std::vector<std::vector<uint8_t>> packets;
    for (const auto& datagram : peer.received)
        if (datagram.toPort == peer.RtpPort() && datagram.bytes.size() > 12 && (datagram.bytes[1] & 0x7F) == kVideo)
            packets.push_back(datagram.bytes);
    return packets;
}

std::vector<uint16_t> NackedTo(const UdpPortPair& peer) {
    std::vector<uint16_t> numbers;
    for (const auto& datagram : peer.received) {
        if (datagram.toPort != peer.RtcpPort()) continue;
        const std::vector<uint16_t> asked = NackedNumbers(datagram.bytes);
        numbers.insert(numbers.end(), asked.begin(), asked.end());
    }
    return numbers;
}

// One NACK per `times`, in one compound.
std::vector<uint8_t> NackCompound(uint32_t senderSSRC, uint32_t mediaSSRC, const std::vector<uint16_t>& lost,
                                  int times = 1) {
    rtp::RTCPCompoundBuilder compound(1500);
    const uint8_t cname[] = "peer@host";
    EXPECT_TRUE(compound.AddReceiverReport(senderSSRC, nullptr, 0));
    EXPECT_TRUE(compound.AddSDESCNAME(senderSSRC, cname, sizeof cname - 1));
    for (int i = 0; i < times; ++i) EXPECT_TRUE(compound.AddNACK(senderSSRC, mediaSSRC, lost.data(), lost.size()));
    return {compound.GetData(), compound.GetData() + compound.GetLength()};
}

class RetransmissionTest : public TransmissionTest {
protected:
    void AddVideoPeer(int userId, UdpPortPair& peer, RecordingPacketSink* sink) {
        ASSERT_EQ(transmission.AddUser(userId, kLoopback, kLoopback, sink), 1);
        ASSERT_EQ(transmission.SetUserVideoPort(userId, peer.RtpPort(), peer.RtpPort()), 1);
    }

    // A remote player's video: sequence numbers `numbers`, one every 10 ms (900 ticks),
    // pumping the window meanwhile.
    void SendVideoFrom(UdpPortPair& peer, std::initializer_list<int> numbers) {
        for (int number : numbers) {
            const std::vector<uint8_t> payload = {1, 0, static_cast<uint8_t>(number)};
            ASSERT_TRUE(peer.SendFromRtp(transmission.GetLocalVideoPort(),
                                         RtpDatagram(kVideo, static_cast<uint16_t>(number), 900u * number, 0x77,
                                                     payload)));
            window.PumpFor(10);
            peer.Collect(0);
        }
    }

    PeerTransportStatistics Statistics(CTavolinTransmission& of, int userId) {
        PeerTransportStatistics figures;
        EXPECT_TRUE(of.GetPeerStatistics(userId, &figures));
        return figures;
    }
};

TEST_F(RetransmissionTest, ANackIsAnsweredWithTheSamePacketsToTheAskingPeerOnlyWithinItsBudget) {
    UdpPortPair asking, other;
    RecordingPacketSink askingSink, otherSink;
    AddVideoPeer(5, asking, &askingSink);
    AddVideoPeer(6, other, &otherSink);
    const std::vector<uint8_t> payload(100, 0x5A);
    for (int frame = 0; frame < 8; ++frame) {
        transmission.NextVideoFrame();
        ASSERT_TRUE(transmission.SendVideo(payload.data(), payload.size()));
    }
    for (int round = 0; round < 20 && VideoPackets(asking).size() < 8; ++round) asking.Collect(50);
    const std::vector<std::vector<uint8_t>> sent = VideoPackets(asking);
    ASSERT_EQ(sent.size(), 8u);
    other.Collect(100);
    asking.received.clear();
    other.received.clear();

    // Eight packets of 112 bytes: half is four of them. The last number was
    // never sent. The compound asks three times over: each number is looked
    // up once, and nothing after the first refusal.
    const std::vector<uint16_t> lost = {SequenceOf(sent[1]),
                                        SequenceOf(sent[2]),
                                        SequenceOf(sent[3]),
                                        SequenceOf(sent[4]),
                                        SequenceOf(sent[5]),
                                        SequenceOf(sent[6]),
                                        static_cast<uint16_t>(SequenceOf(sent[7]) + 100)};
    ASSERT_TRUE(SendFrom(asking.RtcpFd(), transmission.GetLocalVideoPort() + 1,
                         NackCompound(0x5151, transmission.VideoSessionForTesting()->GetLocalSSRC(), lost, 3)));
    for (int round = 0; round < 10 && VideoPackets(asking).size() < 4; ++round) asking.Collect(50);
    asking.Collect(100);
    other.Collect(100);
    EXPECT_EQ(VideoPackets(asking), (std::vector<std::vector<uint8_t>>{sent[1], sent[2], sent[3], sent[4]}))
        << "byte for byte: the same sequence numbers and timestamps";
    EXPECT_TRUE(VideoPackets(other).empty());

    const PeerTransportStatistics figures = Statistics(transmission, 5);
    EXPECT_EQ(figures.nacksReceived, 3u);
    EXPECT_EQ(figures.packetsRetransmitted, 4u);
    EXPECT_EQ(figures.retransmissionsRefused, 1u) << "held, but beyond the budget; the rest not tried";
    EXPECT_EQ(figures.video.packetsSent, 8u);
    EXPECT_EQ(figures.video.bytesSent, 8u * 112);
    EXPECT_EQ(Statistics(transmission, 6).packetsRetransmitted, 0u);
    EXPECT_FALSE(transmission.GetPeerStatistics(7, nullptr));
}

// Greetings take numbers of the video stream, each sent to one peer. Asked
// for, a greeting goes again as it was to the peer it was sent to; any other
// peer gets its number with nothing in it, so that its gap is filled and it is
// neither greeted nor answered on another's behalf.
TEST_F(RetransmissionTest, AGreetingsNumberIsResentToItsOwnPeerAndFilledForAnother) {
    UdpPortPair asking, other;
    RecordingPacketSink askingSink, otherSink;
    AddVideoPeer(5, asking, &askingSink);
    AddVideoPeer(6, other, &otherSink);
    const std::vector<uint8_t> payload(100, 0x5A);  // what the resends are budgeted on
    for (int frame = 0; frame < 4; ++frame) {
        transmission.NextVideoFrame();
        ASSERT_TRUE(transmission.SendVideo(payload.data(), payload.size()));
    }
    const auto helloOf = [](UdpPortPair& peer) {
        for (int round = 0; round < 20 && VideoPackets(peer).size() < 4; ++round) peer.Collect(50);
        for (const auto& datagram : peer.received)
            if (datagram.toPort == peer.RtpPort() && (datagram.bytes[1] & 0x7F) == 1) return datagram.bytes;
        return std::vector<uint8_t>{};
    };
    const std::vector<uint8_t> ownHello = helloOf(asking), othersHello = helloOf(other);
    ASSERT_EQ(ownHello.size(), 14u);
    ASSERT_EQ(othersHello.size(), 14u);
    asking.received.clear();

    ASSERT_TRUE(SendFrom(asking.RtcpFd(), transmission.GetLocalVideoPort() + 1,
                         NackCompound(0x5151, transmission.VideoSessionForTesting()->GetLocalSSRC(),
                                      {SequenceOf(ownHello), SequenceOf(othersHello)})));
    std::vector<std::vector<uint8_t>> answers;
    for (int round = 0; round < 20 && answers.size() < 2; ++round) {
        asking.Collect(50);
        answers.clear();
        for (const auto& datagram : asking.received)
            if (datagram.toPort == asking.RtpPort()) answers.push_back(datagram.bytes);
    }
    EXPECT_EQ(answers, (std::vector<std::vector<uint8_t>>{
                           ownHello, std::vector<uint8_t>(othersHello.begin(), othersHello.begin() + 12)}));
}

TEST_F(RetransmissionTest, AGapIsAskedForUntilItArrivesAndADuplicateAsksNothing) {
    LearnPublicAddresses();
    UdpPortPair peer;
    RecordingPacketSink sink;
    AddVideoPeer(5, peer, &sink);
    SendVideoFrom(peer, {0, 1, 2, 3, 2, 5, 6});  // a duplicate of 2, then 4 missing
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    int next = 7;
    while (NackedTo(peer).empty() && std::chrono::steady_clock::now() < deadline) SendVideoFrom(peer, {next++});
    EXPECT_EQ(NackedTo(peer), std::vector<uint16_t>{4}) << "only the gap, once so far";

    SendVideoFrom(peer, {4});
    for (int i = 0; i < 30; ++i) SendVideoFrom(peer, {next++});  // 300 ms: two retry intervals
    peer.Collect(50);
    EXPECT_EQ(NackedTo(peer), std::vector<uint16_t>{4}) << "not asked again once it came";
    ASSERT_TRUE(window.PumpUntil([&] { return sink.videoPayloads.size() == static_cast<size_t>(next + 1); }, 2000))
        << "every packet reaches the sink, the duplicate too (the assembler drops it)";

    const PeerTransportStatistics figures = Statistics(transmission, 5);
    EXPECT_EQ(figures.nacksSent, 1u);
    EXPECT_EQ(figures.packetsRecovered, 1u);
    EXPECT_EQ(figures.video.packetsReceived, static_cast<uint64_t>(next + 1));
    EXPECT_TRUE(figures.video.hasReception);
    EXPECT_EQ(figures.video.cumulativeLost, -1) << "the duplicate counts as received";
    sink.ReleaseVideo();
    EXPECT_EQ(transmission.VideoSessionForTesting()->GetPacketsInUse(), 0u);
}

// Stands between two transmissions: what reaches `nearSide` goes on to the far
// session from `farSide`, and back; `drop` decides on each RTP datagram
// going out to the far one.
struct LoopbackRelay {
    UdpPortPair nearSide, farSide;
    uint16_t nearVideoPort = 0, farVideoPort = 0;
    std::function<bool(const std::vector<uint8_t>&)> drop;

    void Step() {
        Forward(nearSide, farSide, farVideoPort, true);
        Forward(farSide, nearSide, nearVideoPort, false);
    }
    static void ForwardOne(const UdpPortPair& from, const UdpPortPair& via, uint16_t toVideoPort,
                           const UdpPortPair::Received& datagram) {
        const bool rtcp = datagram.toPort == from.RtcpPort();
        SendFrom(rtcp ? via.RtcpFd() : via.RtpFd(), static_cast<uint16_t>(toVideoPort + (rtcp ? 1 : 0)),
                 datagram.bytes);
    }
    void Forward(UdpPortPair& from, UdpPortPair& via, uint16_t toVideoPort, bool outward) {
        from.Collect(0);
        for (const auto& datagram : from.received)
            if (!(outward && datagram.toPort == from.RtpPort() && drop && drop(datagram.bytes)))
                ForwardOne(from, via, toVideoPort, datagram);
        from.received.clear();
    }
};

TEST_F(RetransmissionTest, TwoTransmissionsCountTheirNacksPictureLossAndRetransmissions) {
    LearnPublicAddresses();
    RecordingPacketSink nearSink, farSink;
    CTavolinTransmission far;
    ASSERT_EQ(far.Create(window.Handle(), TestMessages(&eventContext)), 1);
    far.RequestPublicAddress(kLoopback, server.Port(), &kRequestValue, sizeof kRequestValue);
    ASSERT_TRUE(window.PumpUntil([&] { return far.HasPublicAddresses(); }, 3000));

    LoopbackRelay relay;
    relay.nearVideoPort = transmission.GetLocalVideoPort();
    relay.farVideoPort = far.GetLocalVideoPort();
    // The sixth video packet is lost once; its retransmission passes.
    int videoSeen = 0;
    relay.drop = [&](const std::vector<uint8_t>& bytes) { return (bytes[1] & 0x7F) == kVideo && ++videoSeen == 6; };
    ASSERT_EQ(transmission.AddUser(2, kLoopback, kLoopback, &nearSink), 1);
    ASSERT_EQ(transmission.SetUserVideoPort(2, relay.nearSide.RtpPort(), relay.nearSide.RtpPort()), 1);
    ASSERT_EQ(far.AddUser(1, kLoopback, kLoopback, &farSink), 1);
    ASSERT_EQ(far.SetUserVideoPort(1, relay.farSide.RtpPort(), relay.farSide.RtpPort()), 1);

    const std::vector<uint8_t> payload(200, 0x33);
    for (int frame = 0; frame < 40; ++frame) {
        transmission.NextVideoFrame();
        ASSERT_TRUE(transmission.SendVideo(payload.data(), payload.size()));
        for (int i = 0; i < 2; ++i) {
            window.PumpFor(5);
            relay.Step();
        }
    }
    far.RequestKeyFrame(1, transmission.VideoSessionForTesting()->GetLocalSSRC());
    PeerTransportStatistics nearFigures, farFigures;
    ASSERT_TRUE(window.PumpUntil(
        [&] {
            relay.Step();
            return transmission.GetPeerStatistics(2, &nearFigures) && nearFigures.pictureLossReceived == 1;
        },
        2000));
    ASSERT_TRUE(far.GetPeerStatistics(1, &farFigures));

    EXPECT_EQ(farFigures.pictureLossSent, 1u);
    EXPECT_GE(farFigures.nacksSent, 1u);
    EXPECT_EQ(farFigures.packetsRecovered, 1u);
    EXPECT_EQ(nearFigures.nacksReceived, farFigures.nacksSent);
    EXPECT_EQ(nearFigures.packetsRetransmitted, farFigures.nacksSent) << "each ask answered";
    EXPECT_EQ(nearFigures.retransmissionsRefused, 0u);
    EXPECT_EQ(nearFigures.video.packetsSent, 40u);
    EXPECT_EQ(farFigures.video.packetsReceived, 40u + 2) << "every packet, the greeting and the answer to its own";
    EXPECT_EQ(farFigures.video.cumulativeLost, 0) << "the lost packet came after all";

    far.Destroy();
    transmission.Destroy();
}

// What a transmission did about retransmission for one peer: our video sent,
// then a NACK for one of its packets, then the peer's video with one gap.
struct RetransmissionWork {
    size_t historyBytes = 0;
    size_t resent = 0;
    std::vector<uint16_t> nacked;
    size_t delivered = 0;
    uint64_t feedbackCounted = 0;  // NACKs sent and received, packets resent
};

RetransmissionWork Exercise(CTavolinTransmission& subject, TestWindow& window) {
    RetransmissionWork work;
    UdpPortPair peer;
    RecordingPacketSink sink;
    EXPECT_EQ(subject.AddUser(5, kLoopback, kLoopback, &sink), 1);
    EXPECT_EQ(subject.SetUserVideoPort(5, peer.RtpPort(), peer.RtpPort()), 1);
    const std::vector<uint8_t> payload(100, 0x5A);
    for (int frame = 0; frame < 8; ++frame) {
        subject.NextVideoFrame();
        EXPECT_TRUE(subject.SendVideo(payload.data(), payload.size()));
    }
    for (int round = 0; round < 20 && VideoPackets(peer).size() < 8; ++round) peer.Collect(50);
    const std::vector<std::vector<uint8_t>> sent = VideoPackets(peer);
    EXPECT_EQ(sent.size(), 8u);
    if (sent.size() < 8) return work;
    CTavolinRTPSession* session = subject.VideoSessionForTesting();
    const VideoRepair* repair = session->RepairForTesting();
    work.historyBytes = repair ? repair->History().BytesWithin(session->GetClockTime()) : 0;
    peer.received.clear();

    EXPECT_TRUE(SendFrom(peer.RtcpFd(), subject.GetLocalVideoPort() + 1,
                         NackCompound(0x5151, session->GetLocalSSRC(), {SequenceOf(sent[1])})));
    constexpr int kPeerPackets = 40;  // 400 ms, number 4 missing
    for (int number = 0; number < kPeerPackets; ++number) {
        if (number != 4) {
            EXPECT_TRUE(peer.SendFromRtp(subject.GetLocalVideoPort(),
                                         RtpDatagram(kVideo, static_cast<uint16_t>(number), 900u * number, 0x77,
                                                     {1, 0, static_cast<uint8_t>(number)})));
        }
        window.PumpFor(10);
        peer.Collect(0);
    }
    window.PumpUntil([&] { return sink.videoPayloads.size() == kPeerPackets - 1; }, 2000);
    peer.Collect(100);
    work.resent = VideoPackets(peer).size();
    work.nacked = NackedTo(peer);
    work.delivered = sink.videoPayloads.size();
    sink.ReleaseVideo();
    PeerTransportStatistics figures;
    EXPECT_TRUE(subject.GetPeerStatistics(5, &figures));
    work.feedbackCounted = figures.nacksSent + figures.nacksReceived + figures.packetsRetransmitted;
    EXPECT_EQ(subject.RemoveUser(5), 1);  // the sink goes with this call
    return work;
}

TEST_F(RetransmissionTest, SwitchedOffAVideoSessionKeepsNothingAsksNothingAndResendsNothing) {
    LearnPublicAddresses();
    transmission::EnableVideoRetransmission(false);
    CTavolinTransmission off;
    const int created = off.Create(window.Handle(), TestMessages(&eventContext));
    transmission::EnableVideoRetransmission(true);  // read when a session opens
    ASSERT_EQ(created, 1);
    off.RequestPublicAddress(kLoopback, server.Port(), &kRequestValue, sizeof kRequestValue);
    ASSERT_TRUE(window.PumpUntil([&] { return off.HasPublicAddresses(); }, 3000));

    const RetransmissionWork on = Exercise(transmission, window);
    EXPECT_EQ(on.historyBytes, 8u * 112 + 14) << "the video and the greeting, a header and \"HI\"";
    EXPECT_EQ(on.resent, 1u);
    EXPECT_FALSE(on.nacked.empty());
    EXPECT_EQ(on.nacked, std::vector<uint16_t>(on.nacked.size(), 4)) << "the gap, asked until it gives up";
    EXPECT_EQ(on.delivered, 39u);
    EXPECT_GE(on.feedbackCounted, 3u);

    const RetransmissionWork offWork = Exercise(off, window);
    EXPECT_EQ(offWork.historyBytes, 0u);
    EXPECT_EQ(offWork.resent, 0u);
    EXPECT_TRUE(offWork.nacked.empty());
    EXPECT_EQ(offWork.delivered, 39u) << "video still flows";
    EXPECT_EQ(offWork.feedbackCounted, 0u);
    EXPECT_EQ(off.VideoSessionForTesting()->GetPacketsInUse(), 0u);

    off.Destroy();
    transmission.Destroy();
}

}  // namespace

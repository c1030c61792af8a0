// From a remote player's datagram to the user's sink: the queues, one message
// for what is queued, the lookup by either pair, and who gives each packet back.
#include "transport/rtp/rtcp_builder.h"
#include "transport/rtp/rtp_packet.h"
#include "transport/rtp/rtp_packet_pool.h"
#include "transport_test_support.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <chrono>
#include <thread>

namespace {
using namespace transport_testing;
using testing_support::kLoopback;
using testing_support::UdpPeer;

class ReceiveTest : public TransmissionTest {
protected:
    void SetUp() override {
        TransmissionTest::SetUp();
        LearnPublicAddresses();
    }

    // Sends `count` packets of one source, numbered from `first` in the payload.
    void SendNumbered(UdpPeer& from, uint16_t toPort, uint8_t payloadType, uint32_t ssrc, int first, int count) {
        for (int i = first; i < first + count; ++i) {
            const std::vector<uint8_t> payload = {1, static_cast<uint8_t>(i >> 8), static_cast<uint8_t>(i)};
            auto datagram = RtpDatagram(payloadType, static_cast<uint16_t>(i), 0, ssrc, payload);
            ASSERT_TRUE(from.SendTo(kLoopback, toPort, datagram.data(), datagram.size()));
        }
    }

    static int Number(const std::vector<uint8_t>& payload) { return (payload[1] << 8) | payload[2]; }

    CTavolinRTPSession& Voice() { return *transmission.AudioSessionForTesting(); }
    CTavolinRTPSession& Video() { return *transmission.VideoSessionForTesting(); }
};

TEST_F(ReceiveTest, OneMessageTakesEverythingQueuedInArrivalOrder) {
    UdpPeer remote, unused;
    RecordingPacketSink sink;
    AddLoopbackPeer(5, remote, unused, &sink, false);
    window.dispatchReceived = false;
    SendNumbered(remote, transmission.GetLocalAudioPort(), 102, 0x51, 0, 3);
    ASSERT_TRUE(window.PumpUntil([&] { return transmission.QueuedPacketsForTesting(false) == 3; }, 2000));
    window.PumpFor(50);
    EXPECT_EQ(window.audioReceivedMessages, 1) << "one message announces the whole queue";

    transmission.OnAudioReceived();
    ASSERT_EQ(sink.audioPayloads.size(), 3u);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(Number(sink.audioPayloads[i]), i);
    transmission.OnAudioReceived();  // an empty queue: nothing happens
    EXPECT_EQ(sink.audioPayloads.size(), 3u);
    EXPECT_EQ(sink.userIds, (std::vector<int>{5, 5, 5}));
    EXPECT_EQ(Voice().GetPacketsInUse(), 0u) << "voice media is given back after the sink read it";
}

TEST_F(ReceiveTest, VoiceThatCameDuringAVideoDrainGoesBeforeTheRestOfTheVideo) {
    UdpPeer voiceSide, videoSide, unused;
    RecordingPacketSink voiceSink, videoSink;
    AddLoopbackPeer(5, voiceSide, unused, &voiceSink, false);
    AddLoopbackPeer(6, videoSide, unused, &videoSink, true);
    window.dispatchReceived = false;
    SendNumbered(videoSide, transmission.GetLocalVideoPort(), 34, 0x71, 0, 4);
    ASSERT_TRUE(window.PumpUntil([&] { return transmission.QueuedPacketsForTesting(true) == 4; }, 2000));
    SendNumbered(voiceSide, transmission.GetLocalAudioPort(), 102, 0x51, 0, 2);
    ASSERT_TRUE(window.PumpUntil([&] { return transmission.QueuedPacketsForTesting(false) == 2; }, 2000));

    transmission.OnVideoReceived();
    ASSERT_EQ(voiceSink.audioPayloads.size(), 2u) << "the voice went first";
    ASSERT_EQ(videoSink.videoPayloads.size(), 4u);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(Number(videoSink.videoPayloads[i]), i);
    transmission.OnAudioReceived();  // the voice message still to come finds nothing
    EXPECT_EQ(voiceSink.audioPayloads.size(), 2u);
    videoSink.ReleaseVideo();
    EXPECT_EQ(Voice().GetPacketsInUse(), 0u);
    EXPECT_EQ(Video().GetPacketsInUse(), 0u);
}

TEST_F(ReceiveTest, EitherPairOfAPeerFindsItAndStrangersAreGivenBack) {
    UdpPeer publicSide, localSide, stranger;
    RecordingPacketSink sink;
    AddLoopbackPeer(5, publicSide, localSide, &sink, false);
    SendNumbered(publicSide, transmission.GetLocalAudioPort(), 102, 0x61, 0, 2);
    SendNumbered(localSide, transmission.GetLocalAudioPort(), 10, 0x62, 100, 2);  // TRANS from a peer is media
    SendNumbered(stranger, transmission.GetLocalAudioPort(), 102, 0x63, 200, 2);
    ASSERT_TRUE(window.PumpUntil([&] { return sink.audioPayloads.size() == 4u && Voice().GetPacketsInUse() == 0; },
                                 2000));
    window.PumpFor(50);
    ASSERT_EQ(sink.audioPayloads.size(), 4u);
    std::vector<int> numbers;
    for (const auto& payload : sink.audioPayloads) numbers.push_back(Number(payload));
    std::sort(numbers.begin(), numbers.end());
    EXPECT_EQ(numbers, (std::vector<int>{0, 1, 100, 101}));
    EXPECT_EQ(Voice().GetPacketsInUse(), 0u);
}

TEST_F(ReceiveTest, VideoMediaBelongsToTheSinkUntilItGivesItBack) {
    UdpPeer remote, unused;
    RecordingPacketSink sink;
    AddLoopbackPeer(6, remote, unused, &sink, true);
    SendNumbered(remote, transmission.GetLocalVideoPort(), 34, 0x71, 0, 4);
    auto hello = RtpDatagram(1, 4, 0, 0x71, Bytes("HI"));
    ASSERT_TRUE(remote.SendTo(kLoopback, transmission.GetLocalVideoPort(), hello.data(), hello.size()));
    ASSERT_TRUE(window.PumpUntil([&] { return sink.heldVideo.size() == 4u && Video().GetPacketsInUse() == 4u; }, 2000));
    window.PumpFor(50);
    ASSERT_EQ(sink.heldVideo.size(), 4u);
    EXPECT_EQ(Video().GetPacketsInUse(), 4u) << "the hello went back, the media did not";
    for (size_t i = 0; i < 4; ++i) EXPECT_EQ(Number(sink.videoPayloads[i]), static_cast<int>(i));
    sink.ReleaseVideo();
    EXPECT_EQ(Video().GetPacketsInUse(), 0u);
}

TEST_F(ReceiveTest, PacketsOfARemovedPeerAreGivenBackUndelivered) {
    UdpPeer remote, unused;
    RecordingPacketSink sink;
    AddLoopbackPeer(5, remote, unused, &sink, false);
    ASSERT_EQ(transmission.SetUserVideoPort(5, remote.Port(), unused.Port()), 1);
    window.dispatchReceived = false;
    SendNumbered(remote, transmission.GetLocalAudioPort(), 102, 0x81, 0, 2);
    SendNumbered(remote, transmission.GetLocalVideoPort(), 34, 0x82, 0, 2);
    ASSERT_TRUE(window.PumpUntil(
        [&] {
            return transmission.QueuedPacketsForTesting(false) == 2 && transmission.QueuedPacketsForTesting(true) == 2;
        },
        2000));
    ASSERT_EQ(transmission.RemoveUser(5), 1);
    transmission.OnAudioReceived();
    transmission.OnVideoReceived();
    EXPECT_TRUE(sink.audioPayloads.empty());
    EXPECT_TRUE(sink.heldVideo.empty());
    EXPECT_EQ(Voice().GetPacketsInUse(), 0u);
    EXPECT_EQ(Video().GetPacketsInUse(), 0u);
}

TEST_F(ReceiveTest, DestroyTakesBackQueuedAndHeldPackets) {
    UdpPeer remote, unused;
    RecordingPacketSink sink;
    AddLoopbackPeer(5, remote, unused, &sink, true);
    ASSERT_EQ(transmission.SetUserAudioPort(5, remote.Port(), unused.Port()), 1);
    SendNumbered(remote, transmission.GetLocalVideoPort(), 34, 0x91, 0, 2);
    ASSERT_TRUE(window.PumpUntil([&] { return sink.heldVideo.size() == 2; }, 2000));
    window.dispatchReceived = false;
    SendNumbered(remote, transmission.GetLocalVideoPort(), 34, 0x91, 2, 3);
    SendNumbered(remote, transmission.GetLocalAudioPort(), 102, 0x92, 0, 3);
    ASSERT_TRUE(window.PumpUntil(
        [&] {
            return transmission.QueuedPacketsForTesting(true) == 3 && transmission.QueuedPacketsForTesting(false) == 3;
        },
        2000));

    const rtp::RTPPacketPool::Totals before = rtp::RTPPacketPool::ProcessTotals();
    ASSERT_EQ(transmission.Destroy(), 1);
    EXPECT_TRUE(sink.heldVideo.empty()) << "the sink gave back what it held";
    const rtp::RTPPacketPool::Totals after = rtp::RTPPacketPool::ProcessTotals();
    EXPECT_EQ(after.released - before.released, 2u + 3u + 3u) << "held, queued video and queued voice";
    EXPECT_EQ(after.acquired, after.released);
    window.dispatchReceived = true;
    transmission.OnVideoReceived();  // messages still waiting find empty queues
    transmission.OnAudioReceived();
    EXPECT_TRUE(sink.audioPayloads.empty());
}

TEST_F(ReceiveTest, QueueIsBoundedAndTheExcessIsGivenBackAtOnce) {
    constexpr int kLimit = static_cast<int>(transmission::kReceiveQueueLimit);
    constexpr int kExtra = 40;
    constexpr int kBatch = 32;
    UdpPeer remote, unused;
    RecordingPacketSink sink;
    AddLoopbackPeer(5, remote, unused, &sink, false);

    // Nothing is pumped while the queue fills. Batches keep the socket buffer
    // from overflowing: each waits until the poll thread has taken it.
    for (int sent = 0; sent < kLimit + kExtra; sent += kBatch) {
        const int count = std::min(kBatch, kLimit + kExtra - sent);
        SendNumbered(remote, transmission.GetLocalAudioPort(), 102, 0xA1, sent, count);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
        while (Voice().GetPacketsInUse() + transmission.DroppedAudioPacketsForTesting() <
                   static_cast<size_t>(sent + count - 1) &&
               std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (transmission.DroppedAudioPacketsForTesting() < kExtra && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_EQ(transmission.DroppedAudioPacketsForTesting(), static_cast<uint64_t>(kExtra));
    EXPECT_EQ(Voice().GetPacketsInUse(), static_cast<size_t>(kLimit));

    // The window's posted quota matches the bound: every queued packet has its message.
    window.PumpUntil([&] { return sink.audioPayloads.size() == static_cast<size_t>(kLimit); }, 5000);
    ASSERT_EQ(sink.audioPayloads.size(), static_cast<size_t>(kLimit));
    EXPECT_EQ(Number(sink.audioPayloads.front()), 0);
    EXPECT_EQ(Number(sink.audioPayloads.back()), kLimit - 1);
    EXPECT_EQ(Voice().GetPacketsInUse(), 0u);
}

// A game that stalls its thread fills the message quota; packets that could
// not be announced then must not wait for good.
TEST_F(ReceiveTest, PacketsARefusedPostLeftWaitingAreAnnouncedAgain) {
    UdpPeer remote, unused;
    RecordingPacketSink sink;
    AddLoopbackPeer(5, remote, unused, &sink, false);
    constexpr UINT kFiller = 0x7FFF;
    int filled = 0;
    while (filled < 20000 && PostMessageA(window.Handle(), kFiller, 0, 0)) ++filled;
    ASSERT_LT(filled, 20000) << "the quota never refused a post";

    SendNumbered(remote, transmission.GetLocalAudioPort(), 102, 0x61, 0, 3);
    // Queued while the quota is full: the posts are refused.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (transmission.QueuedPacketsForTesting(false) != 3 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ASSERT_EQ(transmission.QueuedPacketsForTesting(false), 3u);
    ASSERT_TRUE(window.PumpUntil([&] { return sink.audioPayloads.size() == 3; }, 3000))
        << "queued packets were stranded without a message";
    EXPECT_EQ(Number(sink.audioPayloads.back()), 2);
}

// A receiver report block per SSRC, as a stranger would send to fill the
// source table and the member count.
std::vector<uint8_t> ReceiverReports(uint32_t firstSsrc, int count) {
    std::vector<uint8_t> compound;
    for (int i = 0; i < count; ++i) {
        const uint32_t ssrc = firstSsrc + static_cast<uint32_t>(i);
        const uint8_t header[8] = {
            0x80, 201, 0, 1, uint8_t(ssrc >> 24), uint8_t(ssrc >> 16), uint8_t(ssrc >> 8), uint8_t(ssrc)};
        compound.insert(compound.end(), header, header + sizeof header);
    }
    return compound;
}

TEST_F(ReceiveTest, StrangersAreNotHeardAndCannotCrowdOutAPlayer) {
    UdpPeer remote, unused;
    UdpPeer stranger(0x7F000009, 0);  // another machine
    RecordingPacketSink sink;
    AddLoopbackPeer(5, remote, unused, &sink, false);
    for (int i = 0; i < 8; ++i) {
        const std::vector<uint8_t> reports = ReceiverReports(0x10000 + 128 * i, 128);
        ASSERT_TRUE(stranger.SendTo(kLoopback, transmission.GetLocalAudioPort() + 1, reports.data(), reports.size()));
    }
    SendNumbered(stranger, transmission.GetLocalAudioPort(), 102, 0x5000, 0, 50);
    SendNumbered(remote, transmission.GetLocalAudioPort(), 102, 0x51, 0, 3);
    ASSERT_TRUE(window.PumpUntil([&] { return sink.audioPayloads.size() == 3; }, 2000));

    Voice().BeginDataAccess();
    std::vector<uint32_t> sources;
    for (bool found = Voice().GotoFirstSource(); found; found = Voice().GotoNextSource())
        sources.push_back(Voice().GetCurrentSourceInfo()->GetSSRC());
    Voice().EndDataAccess();
    EXPECT_EQ(sources, (std::vector<uint32_t>{0x51})) << "only the player is in the table";
}

// Picture loss both ways: asked of a peer whose video froze here, and a
// peer's ask turned into a key frame request for the encoder.
TEST_F(ReceiveTest, PictureLossIsAskedForAndHeard) {
    UdpPortPair peer;
    RecordingPacketSink sink;
    ASSERT_EQ(transmission.AddUser(5, kLoopback, kLoopback, &sink), 1);
    ASSERT_EQ(transmission.SetUserVideoPort(5, peer.RtpPort(), peer.RtpPort()), 1);

    transmission.RequestKeyFrame(5, 0xABCD);
    transmission.RequestKeyFrame(5, 0xABCD);  // too soon: not sent again
    peer.Collect(300);
    int pictureLosses = 0;
    for (const auto& datagram : peer.received) {
        if (datagram.toPort != peer.RtcpPort()) continue;
        for (size_t at = 0; at + 12 <= datagram.bytes.size();) {
            const uint8_t* p = datagram.bytes.data() + at;
            const uint32_t media = uint32_t(p[8]) << 24 | uint32_t(p[9]) << 16 | uint32_t(p[10]) << 8 | p[11];
            if (p[1] == 206 && (p[0] & 0x1F) == 1 && media == 0xABCD) ++pictureLosses;
            at += 4 * (size_t((p[2] << 8) | p[3]) + 1);
        }
    }
    EXPECT_EQ(pictureLosses, 1);

    EXPECT_FALSE(transmission.TakeKeyFrameRequest());
    rtp::RTCPCompoundBuilder compound(1500);
    const uint8_t cname[] = "peer@host";
    ASSERT_TRUE(compound.AddReceiverReport(0x5151, nullptr, 0));
    ASSERT_TRUE(compound.AddSDESCNAME(0x5151, cname, sizeof cname - 1));
    ASSERT_TRUE(compound.AddPLI(0x5151, Video().GetLocalSSRC()));
    const std::vector<uint8_t> bytes(compound.GetData(), compound.GetData() + compound.GetLength());
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = htonl(kLoopback);
    to.sin_port = htons(static_cast<uint16_t>(transmission.GetLocalVideoPort() + 1));
    ASSERT_EQ(sendto(peer.RtcpFd(), bytes.data(), bytes.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to),
              static_cast<ssize_t>(bytes.size()));
    ASSERT_TRUE(window.PumpUntil([&] { return transmission.TakeKeyFrameRequest(); }, 2000));
}

}  // namespace

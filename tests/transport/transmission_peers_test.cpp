// The peer table, port draws, destinations and the session lifecycle.
#include "tests/support/gbk.h"
#include "tests/transport/rtp/rtp_test_support.h"
#include "transport_test_support.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>

namespace {
using namespace transport_testing;
using testing_support::Gbk;
using testing_support::kLoopback;
using testing_support::UdpPeer;

constexpr uint8_t kVoicePayload[51] = {1};

// Holds a UDP port on every interface, as another program would.
class PortHolder {
public:
    explicit PortHolder(uint16_t port) {
        fd_ = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        held_ = bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    }
    ~PortHolder() { close(fd_); }
    bool held() const { return held_; }

private:
    int fd_ = -1;
    bool held_ = false;
};

// The port base a draw of the transmission's random source gives.
uint16_t PortBaseOf(uint32_t draw) { return static_cast<uint16_t>(11000 + 2 * (draw % 1500)); }

TEST(TransmissionLifecycle, SendsFailBeforeCreateAndAfterDestroy) {
    UdpPeer peer;
    CTavolinTransmission transmission;
    RecordingPacketSink sink;
    ASSERT_EQ(transmission.AddUser(7, kLoopback, kLoopback, &sink), 1);
    EXPECT_EQ(transmission.SetUserAudioPort(7, peer.Port(), peer.Port()), 1);
    EXPECT_FALSE(transmission.SendAudio(kVoicePayload, sizeof kVoicePayload));
    EXPECT_FALSE(transmission.SendVideo(kVoicePayload, sizeof kVoicePayload));
    EXPECT_LT(transmission.NextVideoFrame(), 0);

    TestWindow window;
    ASSERT_EQ(transmission.Create(window.Handle(), TestMessages(nullptr)), 1);
    EXPECT_EQ(transmission.Destroy(), 1);
    EXPECT_EQ(transmission.Destroy(), 1) << "a second Destroy finds no sessions";
    EXPECT_FALSE(transmission.SendAudio(kVoicePayload, sizeof kVoicePayload));
    EXPECT_FALSE(transmission.SendVideo(kVoicePayload, sizeof kVoicePayload));
    EXPECT_FALSE(peer.Receive(50)) << "nothing was sent to the peer";
    EXPECT_EQ(transmission.PeerCountForTesting(), 1) << "Destroy leaves the peer table";
}

TEST(TransmissionLifecycle, PortBasesAreEvenInRangeAndDistinct) {
    TestWindow window;
    for (int run = 0; run < 4; ++run) {
        CTavolinTransmission transmission;
        ASSERT_EQ(transmission.Create(window.Handle(), TestMessages(nullptr)), 1);
        for (uint16_t port : {transmission.GetLocalAudioPort(), transmission.GetLocalVideoPort()}) {
            EXPECT_EQ(port % 2, 0);
            EXPECT_GE(port, 11000);
            EXPECT_LE(port, 13998);
        }
        EXPECT_NE(transmission.GetLocalAudioPort(), transmission.GetLocalVideoPort());
        EXPECT_EQ(transmission.Create(window.Handle(), TestMessages(nullptr)), 1) << "already active: nothing changes";
    }
}

TEST(TransmissionLifecycle, EachProcessDrawsItsOwnPortBases) {
    const std::string first = RunCommand(TAVOLIN_PORT_DRAW_PROBE);
    const std::string second = RunCommand(TAVOLIN_PORT_DRAW_PROBE);
    ASSERT_FALSE(first.empty());
    ASSERT_FALSE(second.empty());
    EXPECT_NE(first, second) << "both processes drew the voice and video bases " << first;
}

TEST(TransmissionLifecycle, BusyPortsAreRedrawn) {
    constexpr uint32_t kFirstDraw = 99;  // the source counts up from here
    TestWindow window;
    for (bool holdRtcp : {false, true}) {
        const uint16_t first = PortBaseOf(kFirstDraw);
        std::vector<uint16_t> following;
        for (uint32_t i = 1; i <= 8; ++i) following.push_back(PortBaseOf(kFirstDraw + i));
        PortHolder holder(holdRtcp ? first + 1 : first);
        if (!holder.held()) GTEST_SKIP() << "port " << first << " is taken by someone else";

        rtp_testing::FixedRandom draws(kFirstDraw);
        CTavolinTransmission transmission;
        transmission.SetPortRandom(&draws);
        ASSERT_EQ(transmission.Create(window.Handle(), TestMessages(nullptr)), 1);
        EXPECT_NE(transmission.GetLocalAudioPort(), first);
        // The next draw, unless a program running alongside holds that one too.
        EXPECT_NE(std::find(following.begin(), following.end(), transmission.GetLocalAudioPort()), following.end());
    }
}

TEST_F(TransmissionTest, SeventeenthPeerIsRefusedWithItsLogText) {
    RecordingPacketSink sinks[17];
    for (int id = 0; id < 16; ++id) ASSERT_EQ(transmission.AddUser(id, kLoopback, kLoopback, &sinks[id]), 1);
    EXPECT_EQ(sinks[3].releaser, &transmission);
    EXPECT_EQ(transmission.AddUser(16, kLoopback, kLoopback, &sinks[16]), 0);
    EXPECT_EQ(log.Count(Gbk("人满了")), 1u);
    EXPECT_EQ(sinks[16].releaser, nullptr);
    EXPECT_EQ(transmission.AddUser(5, 0x0A000005, 0, &sinks[16]), 1) << "a known user is updated even when full";
}

TEST_F(TransmissionTest, KnownUserKeepsStoredAddressesForNoAddress) {
    RecordingPacketSink sink;
    ASSERT_EQ(transmission.AddUser(4, 0x0A000001, 0x0A000002, &sink), 1);
    EXPECT_EQ(transmission.AddUser(4, 0, 0xFFFFFFFF, nullptr), 1);
    const PeerEntry* peer = transmission.PeerAtForTesting(0);
    EXPECT_EQ(peer->publicAddress, 0x0A000001u);
    EXPECT_EQ(peer->localAddress, 0x0A000002u);
    EXPECT_EQ(peer->sink, &sink);
    EXPECT_EQ(transmission.AddUser(4, 0x0A000003, 0x0A000004, nullptr), 1);
    EXPECT_EQ(peer->publicAddress, 0x0A000003u);
    EXPECT_EQ(peer->localAddress, 0x0A000004u);
    EXPECT_EQ(transmission.PeerCountForTesting(), 1);
}

TEST_F(TransmissionTest, RemovalKeepsLaterPeersInOrderAndFindable) {
    RecordingPacketSink sink;
    for (int id : {10, 11, 12, 13}) ASSERT_EQ(transmission.AddUser(id, kLoopback, kLoopback, &sink), 1);
    ASSERT_EQ(transmission.RemoveUser(11), 1);
    ASSERT_EQ(transmission.PeerCountForTesting(), 3);
    EXPECT_EQ(transmission.PeerAtForTesting(0)->userId, 10);
    EXPECT_EQ(transmission.PeerAtForTesting(1)->userId, 12);
    EXPECT_EQ(transmission.PeerAtForTesting(2)->userId, 13);
    EXPECT_EQ(transmission.PeerAtForTesting(3), nullptr);
    EXPECT_EQ(transmission.SetUserAudioPort(13, 0, 0), 1);
    EXPECT_EQ(transmission.SetUserVideoPort(11, 0, 0), 0);

    EXPECT_EQ(transmission.RemoveUser(11), 0);
    EXPECT_EQ(log.Count("CTavolinTransmission::RemoveUser failed,can not find user"), 1u);
}

TEST_F(TransmissionTest, MediaGoesToEveryPeerWithAKnownPortAndStopsAfterRemoval) {
    UdpPeer first, second, unused;
    RecordingPacketSink sink;
    AddLoopbackPeer(1, first, unused, &sink, false);
    AddLoopbackPeer(2, second, unused, &sink, false);
    ASSERT_EQ(transmission.AddUser(3, kLoopback, kLoopback, &sink), 1);  // no port yet: no destination
    for (UdpPeer* peer : {&first, &second}) ASSERT_EQ(NextRtp(*peer)->payload, Bytes("HI"));

    ASSERT_TRUE(transmission.SendAudio(kVoicePayload, sizeof kVoicePayload));
    for (UdpPeer* peer : {&first, &second}) {
        auto voice = NextRtp(*peer);
        ASSERT_TRUE(voice);
        EXPECT_EQ(voice->payloadType, 102);
        EXPECT_EQ(voice->payload.size(), sizeof kVoicePayload);
    }
    ASSERT_EQ(transmission.RemoveUser(1), 1);
    ASSERT_TRUE(transmission.SendAudio(kVoicePayload, sizeof kVoicePayload));
    EXPECT_TRUE(NextRtp(second));
    EXPECT_FALSE(first.Receive(100));
}

TEST_F(TransmissionTest, VideoFramesShareOneTimestampAndVoiceAdvancesBy240) {
    UdpPeer voicePeer, videoPeer, unused;
    RecordingPacketSink sink;
    AddLoopbackPeer(1, voicePeer, unused, &sink, false);
    ASSERT_EQ(transmission.SetUserVideoPort(1, videoPeer.Port(), unused.Port()), 1);
    ASSERT_TRUE(NextRtp(voicePeer));  // the hellos
    ASSERT_TRUE(NextRtp(videoPeer));

    const uint8_t fragment[538] = {2, 0};
    std::vector<testing_support::RtpView> video;
    for (int frame = 0; frame < 2; ++frame) {
        ASSERT_EQ(transmission.NextVideoFrame(), 0);
        for (int i = 0; i < 2; ++i) ASSERT_TRUE(transmission.SendVideo(fragment, sizeof fragment));
    }
    for (int i = 0; i < 4; ++i) {
        auto packet = NextRtp(videoPeer);
        ASSERT_TRUE(packet);
        EXPECT_EQ(packet->payloadType, 34);
        EXPECT_FALSE(packet->marker);
        EXPECT_EQ(packet->payload.size(), sizeof fragment);
        video.push_back(*packet);
    }
    EXPECT_EQ(video[0].timestamp, video[1].timestamp);
    EXPECT_EQ(video[2].timestamp, video[3].timestamp);
    EXPECT_EQ(video[2].timestamp - video[0].timestamp, 6000u);

    for (int i = 0; i < 2; ++i) ASSERT_TRUE(transmission.SendAudio(kVoicePayload, sizeof kVoicePayload));
    auto a = NextRtp(voicePeer), b = NextRtp(voicePeer);
    ASSERT_TRUE(a && b);
    EXPECT_EQ(b->timestamp - a->timestamp, 240u);
    EXPECT_EQ(uint16_t(b->sequence - a->sequence), 1);
}

TEST_F(TransmissionTest, NoAddressPairsAreNeverDestinations) {
    UdpPeer peer;
    RecordingPacketSink sink;
    ASSERT_EQ(transmission.AddUser(1, 0xFFFFFFFF, kLoopback, &sink), 1);
    ASSERT_EQ(transmission.SetUserAudioPort(1, peer.Port(), peer.Port()), 1);
    ASSERT_EQ(transmission.AddUser(2, kLoopback, kLoopback, &sink), 1);
    ASSERT_EQ(transmission.SetUserAudioPort(2, 0, peer.Port()), 1);
    ASSERT_TRUE(transmission.SendAudio(kVoicePayload, sizeof kVoicePayload));
    EXPECT_FALSE(peer.Receive(100)) << "neither a hello nor media left for an unusable public pair";
    EXPECT_EQ(transmission.PeerAtForTesting(0)->audioHelloTime, 0u);
}

// Voice frames that reached `peer` within a short wait, hellos aside.
int VoiceFramesAt(UdpPeer& peer) {
    int frames = 0;
    for (const auto& datagram : peer.ReceiveAll(100)) {
        const auto rtp = testing_support::ParseRtp(datagram.bytes);
        if (rtp && rtp->payloadType == 102) ++frames;
    }
    return frames;
}

TEST_F(TransmissionTest, MediaGoesOnlyToThePairInForceThroughReAddSwitchAndRemoval) {
    LearnPublicAddresses();  // this machine's public address is 127.0.0.1
    ManualTicks ticks(1000);
    constexpr uint32_t kFirst = 0x7F000002, kSecond = 0x7F000003, kLocal = 0x7F000004;
    UdpPeer first(kFirst, 0);
    const uint16_t port = first.Port();
    UdpPeer second(kSecond, port), sameTranslator(kLoopback, port), local(kLocal, 0);
    RecordingPacketSink sink;
    std::vector<UdpPeer*> everyone = {&first, &second, &sameTranslator, &local};
    // Sends one voice frame and returns how many frames each address got.
    auto sendOne = [&] {
        EXPECT_TRUE(transmission.SendAudio(kVoicePayload, sizeof kVoicePayload));
        std::vector<int> counts;
        for (UdpPeer* peer : everyone) counts.push_back(VoiceFramesAt(*peer));
        return counts;
    };

    ASSERT_EQ(transmission.AddUser(7, kFirst, kLocal, &sink), 1);
    ASSERT_EQ(transmission.SetUserAudioPort(7, port, local.Port()), 1);
    EXPECT_EQ(sendOne(), (std::vector<int>{1, 0, 0, 0}));
    ASSERT_EQ(transmission.AddUser(7, kSecond, 0xFFFFFFFF, &sink), 1) << "the peer moved";
    EXPECT_EQ(sendOne(), (std::vector<int>{0, 1, 0, 0}));
    ASSERT_EQ(transmission.AddUser(7, kLoopback, 0xFFFFFFFF, &sink), 1) << "now behind our own translator";
    EXPECT_EQ(sendOne(), (std::vector<int>{0, 0, 1, 0}));
    ticks.Advance(4000);
    transmission.GreetPeers();  // no answer for 4 s: the local pair takes over
    EXPECT_EQ(sendOne(), (std::vector<int>{0, 0, 0, 1}));
    ASSERT_EQ(transmission.RemoveUser(7), 1);
    EXPECT_EQ(sendOne(), (std::vector<int>{0, 0, 0, 0}));
}

}  // namespace

// Hellos, their answers, the 4-second switch to the local pair and the
// 30-second give-up, driven by a hand-set tick.
#include "tests/support/gbk.h"
#include "transport_test_support.h"

namespace {
using namespace transport_testing;
using testing_support::Gbk;
using testing_support::kLoopback;
using testing_support::UdpPeer;

constexpr DWORD kStart = 100000;

class GreetingTest : public TransmissionTest {
protected:
    // The payloads of every RTP packet waiting at `peer`.
    static std::vector<std::vector<uint8_t>> Drain(UdpPeer& peer) {
        std::vector<std::vector<uint8_t>> payloads;
        while (auto rtp = NextRtp(peer, 30)) payloads.push_back(rtp->payload);
        return payloads;
    }

    ManualTicks ticks{kStart};
};

TEST_F(GreetingTest, HellosEverySecondUntilThirtySecondsThenGiveUp) {
    UdpPeer voice, video, unused;
    RecordingPacketSink sink;
    AddLoopbackPeer(1, voice, unused, &sink, false);
    ASSERT_EQ(transmission.SetUserVideoPort(1, video.Port(), unused.Port()), 1);
    const PeerEntry* peer = transmission.PeerAtForTesting(0);
    EXPECT_EQ(peer->audioHelloTime, kStart);
    EXPECT_EQ(Drain(voice), std::vector<std::vector<uint8_t>>{Bytes("HI")});
    EXPECT_EQ(Drain(video).size(), 1u);

    ticks.Advance(1000);
    transmission.GreetPeers();
    EXPECT_EQ(Drain(voice), std::vector<std::vector<uint8_t>>{Bytes("HI")});
    EXPECT_EQ(Drain(video), std::vector<std::vector<uint8_t>>{Bytes("HI")});

    ticks.Set(kStart + 30000);
    transmission.GreetPeers();
    EXPECT_EQ(Drain(voice).size(), 1u) << "exactly 30000 ms still greets";
    EXPECT_EQ(Drain(video).size(), 1u);
    EXPECT_EQ(peer->audioSettled, 0);

    ticks.Set(kStart + 30001);
    transmission.GreetPeers();
    EXPECT_EQ(peer->audioSettled, 1);
    EXPECT_EQ(peer->videoSettled, 0) << "the video side waits for the next tick";
    EXPECT_TRUE(Drain(voice).empty());
    EXPECT_TRUE(Drain(video).empty());

    transmission.GreetPeers();
    EXPECT_EQ(peer->videoSettled, 1);
    transmission.GreetPeers();
    EXPECT_TRUE(Drain(voice).empty());
    EXPECT_TRUE(Drain(video).empty());
    EXPECT_EQ(peer->usePublic, 1) << "another public address is never switched";
    EXPECT_FALSE(log.Contains(Gbk("Zephra：尝试使用局域网IP地址通信")));
}

TEST_F(GreetingTest, PortStillUnknownIsGreetedAtItsPlaceholder) {
    RecordingPacketSink sink;
    ASSERT_EQ(transmission.AddUser(1, kLoopback, kLoopback, &sink), 1);
    transmission.GreetPeers();
    EXPECT_EQ(transmission.PeerAtForTesting(0)->audioHelloTime, kStart) << "65535 is a port; only 0 is not";
}

TEST_F(GreetingTest, PeerBehindOurAddressSwitchesToItsLocalPairAfterFourSeconds) {
    LearnPublicAddresses();  // our public address is 127.0.0.1, the peer's too
    UdpPeer publicVoice, localVoice, publicVideo, localVideo;
    RecordingPacketSink sink;
    AddLoopbackPeer(1, publicVoice, localVoice, &sink, false);
    ASSERT_EQ(transmission.SetUserVideoPort(1, publicVideo.Port(), localVideo.Port()), 1);
    Drain(publicVoice);
    Drain(publicVideo);

    ticks.Advance(3999);
    transmission.GreetPeers();
    EXPECT_EQ(Drain(publicVoice).size(), 1u);
    EXPECT_EQ(Drain(publicVideo).size(), 1u);
    EXPECT_EQ(transmission.PeerAtForTesting(0)->usePublic, 1);

    ticks.Advance(1);
    transmission.GreetPeers();
    const PeerEntry* peer = transmission.PeerAtForTesting(0);
    EXPECT_EQ(peer->usePublic, 0);
    EXPECT_EQ(log.Count(Gbk("Zephra：尝试使用局域网IP地址通信")), 1u);
    EXPECT_EQ(Drain(localVoice), std::vector<std::vector<uint8_t>>{Bytes("HI")});
    EXPECT_EQ(Drain(localVideo), std::vector<std::vector<uint8_t>>{Bytes("HI")});
    EXPECT_EQ(peer->audioHelloTime, kStart + 4000) << "a new 30-second window";

    const uint8_t voiceFrame[51] = {1};
    const uint8_t fragment[3] = {1, 0, 7};
    ASSERT_TRUE(transmission.SendAudio(voiceFrame, sizeof voiceFrame));
    ASSERT_TRUE(transmission.SendVideo(fragment, sizeof fragment));
    EXPECT_EQ(Drain(localVoice).size(), 1u);
    EXPECT_EQ(Drain(localVideo).size(), 1u);
    EXPECT_TRUE(Drain(publicVoice).empty()) << "the public pair is no destination any more";
    EXPECT_TRUE(Drain(publicVideo).empty());

    ticks.Advance(10000);
    transmission.GreetPeers();
    EXPECT_EQ(log.Count(Gbk("Zephra：尝试使用局域网IP地址通信")), 1u) << "the switch happens once";
    Drain(localVoice);
    Drain(localVideo);

    // After removal the local pair hears nothing more.
    ASSERT_EQ(transmission.RemoveUser(1), 1);
    ASSERT_TRUE(transmission.SendAudio(voiceFrame, sizeof voiceFrame));
    ASSERT_TRUE(transmission.SendVideo(fragment, sizeof fragment));
    transmission.GreetPeers();
    EXPECT_FALSE(localVoice.Receive(100));
    EXPECT_FALSE(localVideo.Receive(100));
}

TEST_F(GreetingTest, HelloFromEitherPairIsAnsweredAtTheCurrentPair) {
    LearnPublicAddresses();
    UdpPeer publicVoice, localVoice;
    RecordingPacketSink sink;
    AddLoopbackPeer(1, publicVoice, localVoice, &sink, false);
    Drain(publicVoice);

    const uint16_t port = transmission.GetLocalAudioPort();
    auto hi = RtpDatagram(1, 500, 0, 0x1234, Bytes("HI"));
    auto hi2 = RtpDatagram(1, 501, 0, 0x1234, Bytes("HI"));
    ASSERT_TRUE(localVoice.SendTo(kLoopback, port, hi.data(), hi.size()));
    ASSERT_TRUE(localVoice.SendTo(kLoopback, port, hi2.data(), hi2.size()));
    std::vector<testing_support::RtpView> answers;
    ASSERT_TRUE(window.PumpUntil(
        [&] {
            if (auto rtp = NextRtp(publicVoice, 0)) answers.push_back(*rtp);
            return answers.size() == 2;
        },
        2000));
    for (const auto& answer : answers) {
        EXPECT_EQ(answer.payload, Bytes("REHI"));
        EXPECT_EQ(answer.payloadType, 1);
        EXPECT_FALSE(answer.marker);
    }
    EXPECT_FALSE(localVoice.Receive(50)) << "answered at the public pair, which is in force";

    // Control packets leave the timestamp where it was.
    const uint8_t voiceFrame[51] = {1};
    ASSERT_TRUE(transmission.SendAudio(voiceFrame, sizeof voiceFrame));
    auto media = NextRtp(publicVoice);
    ASSERT_TRUE(media);
    EXPECT_EQ(media->timestamp, answers[0].timestamp);
    EXPECT_EQ(uint16_t(media->sequence - answers[1].sequence), 1);
    EXPECT_TRUE(sink.audioPayloads.empty()) << "hellos are not media";
    EXPECT_EQ(transmission.AudioSessionForTesting()->GetPacketsInUse(), 0u);
}

TEST_F(GreetingTest, AnswerSettlesItsMediumOnly) {
    LearnPublicAddresses();
    UdpPeer voice, video, unused;
    RecordingPacketSink sink;
    AddLoopbackPeer(1, voice, unused, &sink, false);
    ASSERT_EQ(transmission.SetUserVideoPort(1, video.Port(), unused.Port()), 1);
    Drain(voice);
    Drain(video);

    for (uint16_t seq = 10; seq < 12; ++seq) {
        auto rehi = RtpDatagram(1, seq, 0, 0x99, Bytes("REHI"));
        ASSERT_TRUE(voice.SendTo(kLoopback, transmission.GetLocalAudioPort(), rehi.data(), rehi.size()));
    }
    const PeerEntry* peer = transmission.PeerAtForTesting(0);
    ASSERT_TRUE(window.PumpUntil([&] { return log.Count(Gbk("收到rehi")) == 2; }, 2000));
    EXPECT_EQ(peer->audioSettled, 1);
    EXPECT_EQ(peer->videoSettled, 0);

    for (uint16_t seq = 20; seq < 22; ++seq) {
        auto rehi = RtpDatagram(1, seq, 0, 0x98, Bytes("RE"));
        ASSERT_TRUE(video.SendTo(kLoopback, transmission.GetLocalVideoPort(), rehi.data(), rehi.size()));
    }
    ASSERT_TRUE(window.PumpUntil([&] { return peer->videoSettled == 1; }, 2000));
    window.PumpFor(50);
    EXPECT_EQ(log.Count(Gbk("收到rehi")), 2u) << "the video answer logs nothing";

    ticks.Advance(1000);
    transmission.GreetPeers();
    EXPECT_TRUE(Drain(voice).empty());
    EXPECT_TRUE(Drain(video).empty());
}

}  // namespace

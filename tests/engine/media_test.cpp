// Hand-offs of coded video and voice to the network, and of received voice
// to the voice component.
#include "tests/engine/engine_fixture.h"

#include <numeric>

namespace {
using namespace testing_support;

constexpr int kPeerId = 7;

std::vector<RtpView> OfType(const std::vector<Datagram>& datagrams, uint8_t payloadType) {
    std::vector<RtpView> packets;
    for (const Datagram& datagram : datagrams)
        if (auto rtp = ParseRtp(datagram.bytes); rtp && rtp->payloadType == payloadType) packets.push_back(*rtp);
    return packets;
}

class MediaHandOff : public EngineTest {
protected:
    void SetUp() override {
        EngineTest::SetUp();
        ASSERT_EQ(1, CreateEngine());
        ASSERT_EQ(1, engine->AddUser(kPeerId, kLoopback, kLoopback));
        ASSERT_EQ(1, engine->SetUserAudioPort(kPeerId, audioPeer.Port(), audioPeer.Port()));
        ASSERT_EQ(1, engine->SetUserVideoPort(kPeerId, videoPeer.Port(), videoPeer.Port()));
    }
    // Sends one coded frame and collects its fragments (up to `expected`).
    std::vector<RtpView> SendFrame(int length, size_t expected) {
        std::vector<uint8_t> frame(static_cast<size_t>(length));
        std::iota(frame.begin(), frame.end(), 0);
        impl->OnEncodedVideo(frame.data(), 0, length);
        std::vector<RtpView> fragments;
        while (fragments.size() < expected) {
            const auto datagram = videoPeer.Receive(2000);
            if (!datagram) break;
            if (auto rtp = ParseRtp(datagram->bytes); rtp && rtp->payloadType == 34) fragments.push_back(*rtp);
        }
        return fragments;
    }
    UdpPeer audioPeer, videoPeer;
};

TEST_F(MediaHandOff, CodedFramesTravelAsNumberedFragments) {
    const auto one = SendFrame(536, 1);
    ASSERT_EQ(1u, one.size());
    EXPECT_EQ(1, one[0].payload[0]);
    EXPECT_EQ(0, one[0].payload[1]);
    EXPECT_EQ(538u, one[0].payload.size());

    const auto two = SendFrame(537, 2);
    ASSERT_EQ(2u, two.size());
    EXPECT_EQ((std::vector<uint8_t>{2, 0}), std::vector<uint8_t>(two[0].payload.begin(), two[0].payload.begin() + 2));
    EXPECT_EQ((std::vector<uint8_t>{2, 1}), std::vector<uint8_t>(two[1].payload.begin(), two[1].payload.begin() + 2));
    EXPECT_EQ(3u, two[1].payload.size());
    EXPECT_EQ(static_cast<uint8_t>(536 % 256), two[1].payload[2]);  // the frame's byte 536
    EXPECT_EQ(two[0].timestamp, two[1].timestamp);
    EXPECT_EQ(6000u, two[0].timestamp - one[0].timestamp);

    const auto big = SendFrame(102400, 192);
    ASSERT_EQ(192u, big.size());
    EXPECT_EQ(192, big.back().payload[0]);
    EXPECT_EQ(191, big.back().payload[1]);
    EXPECT_EQ(2u + 24u, big.back().payload.size());
    for (const RtpView& fragment : big) {
        EXPECT_EQ(big[0].timestamp, fragment.timestamp);
        EXPECT_FALSE(fragment.marker);
    }
}

TEST_F(MediaHandOff, OnlyFiftyByteVoiceFramesAreSent) {
    audioPeer.ReceiveAll(100);  // the greeting
    std::vector<uint8_t> voice(51, 0xAB);
    impl->OnEncodedAudio(voice.data(), 49);
    impl->OnEncodedAudio(voice.data(), 51);
    impl->OnEncodedAudio(voice.data(), 50);
    impl->OnEncodedAudio(voice.data(), 50);
    const auto sent = OfType(audioPeer.ReceiveAll(300), 102);
    ASSERT_EQ(2u, sent.size());
    EXPECT_EQ(51u, sent[0].payload.size());
    EXPECT_EQ(1, sent[0].payload[0]);
    EXPECT_EQ(0xAB, sent[0].payload[50]);
    EXPECT_EQ(240u, sent[1].timestamp - sent[0].timestamp);
}
}  // namespace

// Two transmissions relayed through coturn on loopback, as two players
// behind translators that no hello gets through: each posts its relayed
// pair as its public address, and voice reaches the other only through the
// relay, from the other's relayed address; over UDP, and over TCP to the
// server (coturn takes both on one port). Skipped where coturn is not
// installed.
#include "tests/transport/relay/coturn_process.h"
#include "transport_test_support.h"

#include <unistd.h>

#include <cstdlib>
#include <iostream>

namespace {
using namespace transport_testing;
using testing_support::kLoopback;

constexpr uint8_t kVoicePayload[51] = {0x5A, 1, 2, 3};
constexpr int kWaitMs = 5000;
// Voice frames each side sends at most while waiting for the other to hear one.
constexpr int kMaxFrames = 200;

struct Player {
    TestWindow window;
    int context = 0;
    RecordingPacketSink sink;
    CTavolinTransmission transmission;  // destroyed first: its poll threads post to the window
};

class RelayedTransmissions : public testing::TestWithParam<relay::RelayTransport> {
protected:
    void SetUp() override {
        if (!relay_testing::CoturnProcess::Find()) GTEST_SKIP() << "coturn is not installed";
        ASSERT_TRUE(coturn.Start());
        ASSERT_TRUE(coturn.AwaitAnswer(kWaitMs)) << "coturn does not answer";
        for (Player* player : {&a, &b}) {
            player->transmission.SetRelay(
                {RelayPolicy::kAlways,
                 {{coturn.Address(), relay_testing::kUser, relay_testing::kPassword, GetParam()}}});
            ASSERT_EQ(player->transmission.Create(player->window.Handle(), TestMessages(&player->context)), 1);
        }
    }
    void TearDown() override {
        for (Player* player : {&a, &b}) player->transmission.Destroy();
    }

    static bool Posted(const Player& player) {
        return !player.window.audioAddresses.empty() && !player.window.videoAddresses.empty();
    }
    // `to` knows `from` by the relayed pairs `from` posted.
    static void Introduce(Player& to, Player& from, int userId) {
        const PublicAddressRecord voice = from.window.audioAddresses.back();
        const PublicAddressRecord video = from.window.videoAddresses.back();
        ASSERT_EQ(to.transmission.AddUser(userId, voice.address, voice.address, &to.sink), 1);
        ASSERT_EQ(to.transmission.SetUserAudioPort(userId, voice.port, voice.port), 1);
        ASSERT_EQ(to.transmission.SetUserVideoPort(userId, video.port, video.port), 1);
    }

    relay_testing::CoturnProcess coturn;
    Player a, b;
};

TEST_P(RelayedTransmissions, PostRelayedPairsAndHearEachOtherThroughTheRelay) {
    const int64_t createdMs = SessionRelay::NowMs();
    ASSERT_TRUE(a.window.PumpUntil([&] { return Posted(a) && Posted(b); }, kWaitMs)) << "no relayed address posted";
    for (Player* player : {&a, &b}) {
        for (const Medium medium : kBothMedia) {
            const PublicAddressRecord posted =
                (medium == Medium::kVideo ? player->window.videoAddresses : player->window.audioAddresses).front();
            EXPECT_EQ(posted.address, kLoopback) << "the relay's address, not the address server's answer";
            EXPECT_EQ(posted.port % 2, 0) << "peers send RTCP one port above";
            const uint16_t ownPort = medium == Medium::kVideo ? player->transmission.GetLocalVideoPort()
                                                              : player->transmission.GetLocalAudioPort();
            EXPECT_NE(posted.port, ownPort);
            SessionRelayFigures figures;
            ASSERT_TRUE(player->transmission.GetRelayFigures(medium, &figures));
            EXPECT_TRUE(figures.relayed);
            EXPECT_EQ(figures.server, coturn.Address());
            EXPECT_EQ(figures.relayedAddress.GetPort(), posted.port);
            EXPECT_EQ(figures.rtcp.allocationMs >= 0, true) << "the RTCP socket has the port above";
        }
    }
    EXPECT_EQ(a.window.audioAddresses.size(), 1u) << "posted once";

    Introduce(a, b, 2);
    Introduce(b, a, 1);
    // Voice both ways until each has heard the other, a bounded number of frames.
    int64_t firstHeardMs = -1;
    for (int frame = 0; frame < kMaxFrames && (a.sink.audioPayloads.empty() || b.sink.audioPayloads.empty()); ++frame) {
        a.transmission.SendAudio(kVoicePayload, sizeof kVoicePayload);
        b.transmission.SendAudio(kVoicePayload, sizeof kVoicePayload);
        a.window.PumpFor(10);
        if (firstHeardMs < 0 && !b.sink.audioPayloads.empty()) firstHeardMs = SessionRelay::NowMs();
    }
    ASSERT_FALSE(b.sink.audioPayloads.empty()) << "a's voice did not reach b";
    ASSERT_FALSE(a.sink.audioPayloads.empty()) << "b's voice did not reach a";
    EXPECT_EQ(b.sink.audioPayloads.front(), std::vector<uint8_t>(kVoicePayload, kVoicePayload + sizeof kVoicePayload));
    EXPECT_EQ(b.sink.userIds.front(), 1) << "known as the peer, not as the relay";

    SessionRelayFigures figures;
    ASSERT_TRUE(a.transmission.GetRelayFigures(Medium::kVoice, &figures));
    EXPECT_GT(figures.rtp.datagramsOut, 0u);
    EXPECT_GT(figures.rtp.datagramsIn, 0u);
    std::cout << "allocated in " << figures.rtp.allocationMs << " ms + " << figures.rtcp.allocationMs
              << " ms; first relayed voice heard " << firstHeardMs - createdMs << " ms after Create\n";
}

INSTANTIATE_TEST_SUITE_P(Transports, RelayedTransmissions,
                         testing::Values(relay::RelayTransport::kUdp, relay::RelayTransport::kTcp),
                         [](const testing::TestParamInfo<relay::RelayTransport>& info) {
                             return info.param == relay::RelayTransport::kTcp ? "Tcp" : "Udp";
                         });

TEST(RelayedTransmission, WrongCredentialsFailOnceAndPostNoAddress) {
    if (!relay_testing::CoturnProcess::Find()) GTEST_SKIP() << "coturn is not installed";
    relay_testing::CoturnProcess coturn;
    ASSERT_TRUE(coturn.Start());
    ASSERT_TRUE(coturn.AwaitAnswer(kWaitMs)) << "coturn does not answer";
    Player player;
    player.transmission.SetRelay({RelayPolicy::kAlways, {{coturn.Address(), relay_testing::kUser, "wrong"}}});
    ASSERT_EQ(player.transmission.Create(player.window.Handle(), TestMessages(&player.context)), 1);
    SessionRelayFigures figures;
    ASSERT_TRUE(player.window.PumpUntil(
        [&] { return player.transmission.GetRelayFigures(Medium::kVoice, &figures) && figures.failed; }, kWaitMs));
    EXPECT_EQ(figures.lastEvent, relay::RelayEventKind::kAuthenticationFailed);
    EXPECT_EQ(figures.rtp.unauthorized, 2u) << "the challenge and the refusal, nothing more";
    EXPECT_FALSE(figures.relayed);
    player.window.PumpFor(100);
    EXPECT_TRUE(player.window.audioAddresses.empty()) << "no address to hand out";
    player.transmission.Destroy();
}

// The connections to a server over TCP are reset while the server lives (as
// a middlebox may; here the kernel aborts them, which needs root): both
// sessions allocate on it again and post their new relayed pairs, and
// nothing counts as failed.
TEST(RelayedTransmission, ADroppedConnectionToALiveServerIsMadeAgain) {
    if (!relay_testing::CoturnProcess::Find()) GTEST_SKIP() << "coturn is not installed";
    if (geteuid() != 0) GTEST_SKIP() << "aborting connections needs root";
    relay_testing::CoturnProcess coturn;
    ASSERT_TRUE(coturn.Start());
    ASSERT_TRUE(coturn.AwaitAnswer(kWaitMs)) << "coturn does not answer";
    Player player;
    player.transmission.SetRelay(
        {RelayPolicy::kAlways,
         {{coturn.Address(), relay_testing::kUser, relay_testing::kPassword, relay::RelayTransport::kTcp}}});
    ASSERT_EQ(player.transmission.Create(player.window.Handle(), TestMessages(&player.context)), 1);
    ASSERT_TRUE(player.window.PumpUntil(
        [&] { return !player.window.audioAddresses.empty() && !player.window.videoAddresses.empty(); }, kWaitMs));
    const std::string abort =
        "ss -K dst 127.0.0.1 dport = " + std::to_string(coturn.Address().GetPort()) + " >/dev/null 2>&1";
    if (std::system(abort.c_str()) != 0) GTEST_SKIP() << "ss cannot abort connections here";
    const auto allocatedAgain = [&](Medium medium) {
        SessionRelayFigures figures;
        return player.transmission.GetRelayFigures(medium, &figures) && figures.relayed && figures.allocations == 2;
    };
    ASSERT_TRUE(player.window.PumpUntil(
        [&] { return allocatedAgain(Medium::kVoice) && allocatedAgain(Medium::kVideo); }, kWaitMs));
    for (const Medium medium : kBothMedia) {
        SessionRelayFigures figures;
        ASSERT_TRUE(player.transmission.GetRelayFigures(medium, &figures));
        EXPECT_EQ(figures.failures, 0u);
        EXPECT_FALSE(figures.failed);
    }
    player.window.PumpFor(50);
    EXPECT_EQ(player.window.audioAddresses.size(), 2u) << "the relayed pair, then the one allocated again";
    player.transmission.Destroy();
}

// The server over TCP goes away: its connections drop, and so does the one
// made again, which fails it; both sessions allocate on the next server
// (over UDP) and post the new relayed pairs.
TEST(RelayedTransmission, ADroppedConnectionFailsOverToTheNextServer) {
    if (!relay_testing::CoturnProcess::Find()) GTEST_SKIP() << "coturn is not installed";
    relay_testing::CoturnProcess first, second;
    for (relay_testing::CoturnProcess* coturn : {&first, &second}) {
        ASSERT_TRUE(coturn->Start());
        ASSERT_TRUE(coturn->AwaitAnswer(kWaitMs)) << "coturn does not answer";
    }
    Player player;
    player.transmission.SetRelay(
        {RelayPolicy::kAlways,
         {{first.Address(), relay_testing::kUser, relay_testing::kPassword, relay::RelayTransport::kTcp},
          {second.Address(), relay_testing::kUser, relay_testing::kPassword, relay::RelayTransport::kUdp}}});
    ASSERT_EQ(player.transmission.Create(player.window.Handle(), TestMessages(&player.context)), 1);
    ASSERT_TRUE(player.window.PumpUntil(
        [&] { return !player.window.audioAddresses.empty() && !player.window.videoAddresses.empty(); }, kWaitMs));
    const int64_t stoppedMs = SessionRelay::NowMs();
    first.Stop();
    const auto failedOver = [&](Medium medium) {
        SessionRelayFigures figures;
        return player.transmission.GetRelayFigures(medium, &figures) && figures.relayed && figures.failovers == 1;
    };
    ASSERT_TRUE(player.window.PumpUntil([&] { return failedOver(Medium::kVoice) && failedOver(Medium::kVideo); },
                                        kWaitMs));
    std::cout << "allocated on the next server " << SessionRelay::NowMs() - stoppedMs
              << " ms after the first stopped\n";
    for (const Medium medium : kBothMedia) {
        SessionRelayFigures figures;
        ASSERT_TRUE(player.transmission.GetRelayFigures(medium, &figures));
        EXPECT_EQ(figures.lastEvent, relay::RelayEventKind::kConnectionLost);
        EXPECT_EQ(figures.server, second.Address());
    }
    player.window.PumpFor(50);
    EXPECT_EQ(player.window.audioAddresses.size(), 2u) << "the first relayed pair, then the second";
    player.transmission.Destroy();
}

}  // namespace

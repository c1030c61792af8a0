// The impairment relay: its seeded decisions, and datagrams through its
// sockets between two stand-in players.
#include "testbed/network/impaired_lobby.h"
#include "testbed/network/impairment_relay.h"
#include "testbed/network/uplink_queue.h"
#include "tests/support/udp_peer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <thread>

namespace {
using room::ImpairedFlow;
using room::ImpairmentSettings;
using room::RelayMedium;
using testing_support::kLoopback;
using testing_support::UdpPeer;

TEST(UplinkQueue, LeavesAtItsRateDropsAtTheTailAndFollowsTheSchedule) {
    room::UplinkSettings settings;
    settings.player = 1;
    settings.kbits = 100;  // a 1222-byte datagram with its headers: 100 ms
    settings.dropAtSeconds = 10;
    settings.dropToKbits = 50;
    settings.liftAtSeconds = 20;
    EXPECT_EQ(settings.KbitsAt(9.9), 100);
    EXPECT_EQ(settings.KbitsAt(10), 50);
    EXPECT_EQ(settings.KbitsAt(20), 100);
    room::UplinkQueue queue(settings);
    const size_t bytes = 1250 - room::kUdpOverheadBytes;
    // 300 ms of backlog at 100 kbit/s is 3750 bytes: three datagrams wait, the fourth is dropped.
    for (int i = 1; i <= 3; ++i) EXPECT_NEAR(*queue.Admit(0, bytes), 0.1 * i, 1e-9);
    EXPECT_FALSE(queue.Admit(0, bytes));
    EXPECT_EQ(queue.Dropped(), 1u);
    EXPECT_NEAR(*queue.Admit(0.15, bytes), 0.4, 1e-9) << "room again once one left";
    // Later, at half the rate, a datagram takes twice as long.
    EXPECT_NEAR(*queue.Admit(12, bytes), 12.2, 1e-9);
}

TEST(ImpairedFlow, LossBurstsDelayAndDuplicatesFollowTheSettingsAndTheSeed) {
    ImpairmentSettings settings;
    settings.lossPercent = 5;
    settings.burst = 3;
    settings.delayMs = 40;
    settings.jitterMs = 10;
    settings.duplicatePercent = 10;
    ImpairedFlow flow(settings, 7), again(settings, 7);
    constexpr int kDatagrams = 40000;
    int lost = 0, copies = 0, run = 0;
    for (int i = 0; i < kDatagrams; ++i) {
        const auto departures = flow.Admit(i * 0.001);
        ASSERT_EQ(departures, again.Admit(i * 0.001));  // the same seed, the same fate
        if (departures.empty()) {
            ++lost;
            ++run;
            continue;
        }
        if (run) {
            EXPECT_EQ(run % 3, 0) << "losses come in bursts of 3";
        }
        run = 0;
        copies += static_cast<int>(departures.size()) - 1;
        for (double leave : departures) {
            EXPECT_GE(leave - i * 0.001, 0.030 - 1e-9);
            EXPECT_LE(leave - i * 0.001, 0.050 + 1e-9);
        }
    }
    EXPECT_NEAR(lost * 100.0 / kDatagrams, 5.0, 0.6);
    EXPECT_NEAR(copies * 100.0 / (kDatagrams - lost), 10.0, 0.6);
}

std::vector<uint8_t> Numbered(uint32_t number) {
    std::vector<uint8_t> bytes(12);
    std::memcpy(bytes.data(), &number, sizeof number);
    return bytes;
}

uint32_t NumberOf(const testing_support::Datagram& datagram) {
    uint32_t number = 0;
    std::memcpy(&number, datagram.bytes.data(), sizeof number);
    return number;
}

TEST(ImpairmentRelay, ForwardsBothWaysFromTheOtherSideReorderingDuplicatingAndDelaying) {
    ImpairmentSettings settings;
    settings.delayMs = 30;
    settings.reorderPercent = 20;
    settings.duplicatePercent = 10;
    room::ImpairmentRelay relay(settings);
    UdpPeer a, b;  // each plays a session's RTP socket
    uint16_t portForA = 0, portForB = 0;
    std::string error;
    ASSERT_TRUE(relay.AddPath(RelayMedium::kVideo, {1, kLoopback, a.Port()}, {2, kLoopback, b.Port()}, &portForA,
                              &portForB, &error))
        << error;
    EXPECT_EQ(portForA % 2, 0);

    constexpr int kDatagrams = 200;
    const auto start = std::chrono::steady_clock::now();
    for (uint32_t i = 0; i < kDatagrams; ++i) {
        const auto bytes = Numbered(i);
        ASSERT_TRUE(a.SendTo(kLoopback, portForA, bytes.data(), bytes.size()));
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    const auto first = b.Receive(1000);
    ASSERT_TRUE(first);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(29));  // the delay
    EXPECT_EQ(first->fromPort, portForB);  // b hears a from where it was told a is
    auto received = b.ReceiveAll(300);
    received.insert(received.begin(), *first);

    const room::RelayCounts counts = relay.Counts(1, 2, RelayMedium::kVideo, false);
    EXPECT_EQ(counts.received, uint64_t{kDatagrams});
    EXPECT_EQ(counts.dropped, 0u);
    EXPECT_EQ(counts.forwarded, received.size());
    EXPECT_EQ(counts.forwarded, counts.received + counts.duplicated);
    EXPECT_GT(counts.duplicated, 5u);
    int inversions = 0;
    uint32_t latest = 0;
    for (const auto& datagram : received) {
        if (NumberOf(datagram) < latest) ++inversions;
        latest = std::max(latest, NumberOf(datagram));
    }
    EXPECT_EQ(uint64_t(inversions), counts.reordered);
    EXPECT_GT(inversions, 10);

    const auto back = Numbered(99);
    ASSERT_TRUE(b.SendTo(kLoopback, portForB, back.data(), back.size()));
    const auto reply = a.Receive(1000);
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->fromPort, portForA);
    relay.Stop();
}

TEST(ImpairmentRelay, HoldsEachDatagramForTheDelay) {
    ImpairmentSettings settings;
    settings.delayMs = 40;
    room::ImpairmentRelay relay(settings);
    UdpPeer a, b;
    uint16_t portForA = 0, portForB = 0;
    std::string error;
    ASSERT_TRUE(relay.AddPath(RelayMedium::kAudio, {1, kLoopback, a.Port()}, {2, kLoopback, b.Port()}, &portForA,
                              &portForB, &error))
        << error;
    for (uint32_t i = 0; i < 5; ++i) {
        const auto bytes = Numbered(i);
        const auto sent = std::chrono::steady_clock::now();
        ASSERT_TRUE(a.SendTo(kLoopback, portForA, bytes.data(), bytes.size()));
        const auto arrived = b.Receive(1000);
        ASSERT_TRUE(arrived);
        const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - sent).count();
        EXPECT_GE(ms, 39.0);
        EXPECT_LE(ms, 60.0);  // the relay wakes at least every 5 ms
        EXPECT_EQ(NumberOf(*arrived), i);
    }
}

TEST(ImpairedLobby, EachPlayerIsToldTheRelayOnceBothHavePublished) {
    ImpairmentSettings settings;
    settings.lossPercent = 1;
    room::ImpairmentRelay relay(settings);
    room::ImpairedLobby lobby(relay);
    lobby.Publish({1, kLoopback, kLoopback, 20000, 20000, 20002, 20002});
    EXPECT_TRUE(lobby.TakeNewPeers(2).empty());  // 2 has not published
    lobby.Publish({2, kLoopback, kLoopback, 20010, 20010, 20012, 20012});
    const auto toTwo = lobby.TakeNewPeers(2);
    const auto toOne = lobby.TakeNewPeers(1);
    ASSERT_EQ(toTwo.size(), 1u);
    ASSERT_EQ(toOne.size(), 1u);
    EXPECT_EQ(toTwo[0].userId, 1);
    EXPECT_NE(toTwo[0].videoLocalPort, 20002);
    EXPECT_EQ(toTwo[0].videoLocalPort, toTwo[0].videoPublicPort);
    EXPECT_NE(toTwo[0].videoLocalPort, toOne[0].videoLocalPort);
    EXPECT_TRUE(lobby.TakeNewPeers(2).empty());
    EXPECT_TRUE(lobby.Problems().empty());
}

}  // namespace

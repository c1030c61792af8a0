// The peer table and its snapshot: lookups by either pair, publication of
// every change, and the snapshot read by two poll threads while the engine
// thread changes the table.
#include "transport/peer_table.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace {
constexpr uint32_t kPublic = 0x0A000001;  // 10.0.0.1
constexpr uint32_t kLocal = 0xC0A80001;   // 192.168.0.1
constexpr uint32_t kOther = 0x0A000002;

TEST(PeerTable, FindsAPeerByEitherPairOfTheMediumAndItsRtcpOnePortAbove) {
    PeerTable table;
    PeerEntry& first = *table.Add(7, kPublic, kLocal, nullptr);
    table.SetPorts(first, Medium::kVideo, 5000, 6000);
    table.SetPorts(first, Medium::kVoice, 5100, 6100);
    PeerEntry& second = *table.Add(8, kPublic, kOther, nullptr);
    table.SetPorts(second, Medium::kVideo, 5000, 7000);  // behind the same translator, same port

    const auto snapshot = table.Snapshot();
    EXPECT_EQ(snapshot->FindByRtp(Medium::kVideo, kPublic, 5000)->userId, 7) << "first in table order";
    EXPECT_EQ(snapshot->FindByRtp(Medium::kVideo, kLocal, 6000)->userId, 7) << "the local pair, not in force";
    EXPECT_EQ(snapshot->FindByRtp(Medium::kVideo, kOther, 7000)->userId, 8);
    EXPECT_EQ(snapshot->FindByRtp(Medium::kVoice, kPublic, 5000), nullptr) << "the other medium's port";
    EXPECT_EQ(snapshot->FindByRtp(Medium::kVoice, kLocal, 6100)->userId, 7);
    EXPECT_EQ(snapshot->FindByRtcp(Medium::kVideo, kOther, 7001)->userId, 8);
    EXPECT_EQ(snapshot->FindByRtcp(Medium::kVideo, kOther, 7000), nullptr);
    EXPECT_EQ(snapshot->FindByRtcp(Medium::kVideo, kPublic, 0), nullptr);
    EXPECT_TRUE(snapshot->HasAddress(kOther));
    EXPECT_FALSE(snapshot->HasAddress(0x0A000003));
    EXPECT_EQ(table.FindBySender(Medium::kVideo, kOther, 7000), &second);

    const rtp::RTPIPv4Address secondMedia(kOther, 7000), secondRtcp(kOther, 7001);
    EXPECT_EQ(snapshot->FindFeedbackSender({kPublic, 5001}, &secondMedia)->userId, 8) << "its video tells";
    EXPECT_EQ(snapshot->FindFeedbackSender(secondRtcp, nullptr)->userId, 8) << "no video yet: its RTCP socket";
}

TEST(PeerTable, PublishesEveryChangeAndASnapshotHeldStaysAsItWas) {
    PeerTable table;
    PeerEntry& peer = *table.Add(7, kPublic, kLocal, nullptr);
    table.SetPorts(peer, Medium::kVideo, 5000, 6000);
    const auto before = table.Snapshot();
    EXPECT_EQ(before->Peers().at(0).PairInForce(Medium::kVideo), rtp::RTPIPv4Address(kPublic, 5000));

    table.UseLocalPairs(peer);
    EXPECT_EQ(table.Snapshot()->Peers().at(0).PairInForce(Medium::kVideo), rtp::RTPIPv4Address(kLocal, 6000));
    EXPECT_EQ(before->Peers().at(0).PairInForce(Medium::kVideo), rtp::RTPIPv4Address(kPublic, 5000));

    table.SetAddresses(peer, 0xFFFFFFFF, kOther);
    EXPECT_EQ(table.Snapshot()->Peers().at(0).publicAddress, kPublic) << "no host: kept";
    EXPECT_EQ(table.Snapshot()->Peers().at(0).localAddress, kOther);

    // A poll thread may still count for a peer the engine thread has removed.
    const std::shared_ptr<PeerLink> link = peer.link;
    table.Remove(peer);
    EXPECT_TRUE(table.Snapshot()->Peers().empty());
    before->Peers().at(0).link->media[Medium::kVideo].Add(100);
    EXPECT_EQ(link->media[Medium::kVideo].bytes.load(), 100u) << "the row's record and the snapshot's are one";
    EXPECT_EQ(table.Add(7, kPublic, kLocal, nullptr)->link->media[Medium::kVideo].packets.load(), 0u)
        << "a user added again starts afresh";
}

// The engine thread changes the table while the two poll threads look their
// senders up and count; each snapshot must be whole (both ports of a change,
// never half of one; a peer just added knows no port yet) and what it names
// must stay alive while it is held.
TEST(PeerTableThreads, TwoReadersSeeWholeSnapshotsWhileTheEngineThreadPublishes) {
    constexpr int kPeers = 4;
    constexpr int kChanges = 3000;
    PeerTable table;
    for (int i = 0; i < kPeers; ++i) {
        PeerEntry& peer = *table.Add(i, kPublic + i, kLocal + i, nullptr);
        for (const Medium medium : kBothMedia) table.SetPorts(peer, medium, 1000, 1001);
    }
    std::atomic<bool> done{false};
    std::atomic<int> torn{0};
    std::atomic<uint64_t> reads{0};
    auto read = [&](Medium medium) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (!done.load() && std::chrono::steady_clock::now() < deadline) {
            const std::shared_ptr<const PeerSnapshot> snapshot = table.Snapshot();
            for (const PeerEntry& peer : snapshot->Peers()) {
                const uint16_t publicPort = peer.PublicPort(medium), localPort = peer.LocalPort(medium);
                const bool whole = localPort == publicPort + 1 ||
                                   (publicPort == transmission::kUnknownPort && localPort == publicPort);
                const PeerEntry* found = snapshot->FindByRtp(medium, peer.publicAddress, publicPort);
                if (!whole || !found || found->userId != peer.userId) {
                    ++torn;
                    continue;
                }
                found->link->media[medium].Add(1);
            }
            ++reads;
        }
    };
    std::thread voice(read, Medium::kVoice), video(read, Medium::kVideo);
    const auto start = std::chrono::steady_clock::now();
    while (reads.load() < 2 && std::chrono::steady_clock::now() - start < std::chrono::seconds(10))
        std::this_thread::yield();
    for (int change = 0; change < kChanges; ++change) {
        const int index = change % kPeers;
        PeerEntry& peer = table.At(index);
        const auto port = static_cast<uint16_t>(2000 + 2 * change);
        table.SetPorts(peer, change % 2 ? Medium::kVideo : Medium::kVoice, port, port + 1);
        if (change % 100 == 99) {  // leaves and comes back, at the end of the table
            const int32_t userId = peer.userId;
            table.Remove(peer);
            PeerEntry& back = *table.Add(userId, kPublic + userId, kLocal + userId, nullptr);
            for (const Medium medium : kBothMedia) table.SetPorts(back, medium, 1000, 1001);
        }
    }
    done = true;
    voice.join();
    video.join();
    EXPECT_EQ(torn.load(), 0);
    EXPECT_GT(reads.load(), 0u);
}

}  // namespace

// Video repair with the time passed in and a port that records instead of
// sending: gaps asked of their sender, NACKs answered from the last second
// of what was sent, and each peer's budget.
#include "transport/video_repair.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace {
using Numbers = std::vector<uint16_t>;

constexpr uint32_t kPeerAddress = 0x0A000001;
constexpr uint32_t kOtherAddress = 0x0A000002;
constexpr uint16_t kPeerVideoPort = 5000;
constexpr uint32_t kSource = 0x77;
constexpr NackTiming kTiming{0.02, 0.15};

struct RecordingPort : VideoRepairPort {
    struct Nack {
        rtp::RTPIPv4Address sender;
        uint32_t ssrc;
        Numbers numbers;
    };
    std::vector<std::vector<uint8_t>> sentAgain;
    std::vector<Nack> nacks;
    bool refuseNacks = false;

    bool SendAgain(const rtp::RTPIPv4Address& pair, const uint8_t* packet, size_t length) override {
        EXPECT_EQ(pair, rtp::RTPIPv4Address(kPeerAddress, kPeerVideoPort)) << "only to the asker's pair in force";
        sentAgain.emplace_back(packet, packet + length);
        return true;
    }
    bool SendNack(const rtp::RTPIPv4Address& sender, uint32_t ssrc, const Numbers& numbers) override {
        if (refuseNacks) return false;
        nacks.push_back({sender, ssrc, numbers});
        return true;
    }
    NackTiming TimingOf(uint32_t) override { return kTiming; }
};

// An RTP packet of ours as the session sends it: a fixed header, then the payload.
std::vector<uint8_t> Packet(uint16_t sequence, size_t payloadBytes) {
    std::vector<uint8_t> packet(12 + payloadBytes, 0x5A);
    packet[0] = 0x80;
    packet[1] = 34;
    packet[2] = static_cast<uint8_t>(sequence >> 8);
    packet[3] = static_cast<uint8_t>(sequence);
    return packet;
}

class VideoRepairTest : public testing::Test {
protected:
    VideoRepairTest() {
        PeerEntry& peer = *table.Add(7, kPeerAddress, kPeerAddress, nullptr);
        table.SetPorts(peer, Medium::kVideo, kPeerVideoPort, kPeerVideoPort);
        players = table.Snapshot();
        asker = &players->Peers().at(0);
    }
    void Send(uint16_t first, int count, size_t payloadBytes, double now, const rtp::RTPIPv4Address* to = nullptr) {
        for (int i = 0; i < count; ++i) {
            const std::vector<uint8_t> packet = Packet(static_cast<uint16_t>(first + i), payloadBytes);
            repair.OnSent(packet.data(), packet.size(), static_cast<uint16_t>(first + i), now, to);
        }
    }
    void Nack(const Numbers& lost, double now) { repair.OnNack(asker, lost.data(), lost.size(), now); }
    PeerLink& Link() { return *asker->link; }

    PeerTable table;
    std::shared_ptr<const PeerSnapshot> players;
    const PeerEntry* asker = nullptr;
    RecordingPort port;
    VideoRepair repair{port};
    const rtp::RTPIPv4Address peerVideo{kPeerAddress, kPeerVideoPort};
};

TEST_F(VideoRepairTest, AGapIsAskedOfItsSenderAfterTheReorderWaitUntilItComesOrIsASecondOld) {
    for (const uint16_t sequence : {10, 12}) repair.OnArrival(*players, kSource, &peerVideo, sequence, 0);
    repair.AskForMissing(*players, 0.01);
    EXPECT_TRUE(port.nacks.empty()) << "11 may still be on its way";
    port.refuseNacks = true;
    repair.AskForMissing(*players, 0.03);
    port.refuseNacks = false;
    repair.AskForMissing(*players, 0.031);
    ASSERT_EQ(port.nacks.size(), 1u) << "a refused NACK is asked again next round";
    EXPECT_EQ(port.nacks[0].sender, peerVideo);
    EXPECT_EQ(port.nacks[0].ssrc, kSource);
    EXPECT_EQ(port.nacks[0].numbers, Numbers{11});
    EXPECT_EQ(Link().nacksSent.load(), 1u);
    repair.OnArrival(*players, kSource, &peerVideo, 11, 0.05);
    EXPECT_EQ(Link().packetsRecovered.load(), 1u);

    repair.OnArrival(*players, kSource, &peerVideo, 14, 0.1);  // 13 missing, its NACKs refused for a second
    port.refuseNacks = true;
    for (double now = 0.2; now < 1.1; now += 0.1) repair.AskForMissing(*players, now);
    port.refuseNacks = false;
    repair.AskForMissing(*players, 1.11);
    EXPECT_EQ(port.nacks.size(), 1u) << "older than the sender's history: given up";

    repair.OnArrival(*players, 0x88, nullptr, 1, 0);
    repair.OnArrival(*players, 0x88, nullptr, 3, 0);
    repair.AskForMissing(*players, 0.5);
    EXPECT_EQ(port.nacks.size(), 1u) << "a source with no known address is not tracked";
}

TEST_F(VideoRepairTest, ANackIsAnsweredWithTheSentBytesEachNumberOnceWithinTheLastSecond) {
    Send(100, 10, 100, 0);
    const rtp::RTPIPv4Address other(kOtherAddress, 9000);
    Send(110, 1, 2, 0, &other);      // a greeting to another peer
    Send(111, 1, 2, 0, &peerVideo);  // and one to the asker
    repair.BeginCompound();
    Nack({101, 101, 110, 111, 300}, 0.5);
    ASSERT_EQ(port.sentAgain.size(), 3u);
    EXPECT_EQ(port.sentAgain[0], Packet(101, 100));
    std::vector<uint8_t> filler = Packet(110, 0);
    filler[1] = 1;  // a payload-less hello, which every peer reads past
    EXPECT_EQ(port.sentAgain[1], filler);
    EXPECT_EQ(port.sentAgain[2], Packet(111, 2));
    EXPECT_EQ(Link().nacksReceived.load(), 1u);
    EXPECT_EQ(Link().packetsRetransmitted.load(), 3u);

    repair.BeginCompound();
    repair.OnNack(nullptr, Numbers{102}.data(), 1, 0.5);
    EXPECT_EQ(port.sentAgain.size(), 3u) << "no player asked";
    repair.BeginCompound();
    Nack({102}, 1.0);
    repair.BeginCompound();
    Nack({103}, 1.001);
    EXPECT_EQ(port.sentAgain.size(), 4u) << "a second old is still held, a moment later not";
}

TEST_F(VideoRepairTest, APeerIsSentAgainAtMostHalfTheStreamOfTheSecondAndARefusalEndsTheCompound) {
    Send(0, 10, 88, 0);  // 1000 bytes
    repair.BeginCompound();
    Nack({0, 1, 2, 3, 4, 5, 6, 7, 8, 9}, 0.1);
    Nack({9}, 0.1);
    EXPECT_EQ(port.sentAgain.size(), 5u);
    EXPECT_EQ(Link().retransmissionsRefused.load(), 1u) << "counted once; the compound asks nothing more";
    EXPECT_EQ(Link().nacksReceived.load(), 2u);

    Send(10, 10, 88, 1.0);
    repair.BeginCompound();
    Nack({10, 11, 12, 13, 14, 15}, 1.15);
    EXPECT_EQ(port.sentAgain.size(), 10u) << "what was spent a second ago is room again";
}

}  // namespace

// Latching decided from the peer table and the SSRCs heard: only a table
// peer's address, only with a greeting that names one peer or media of an
// SSRC heard from that peer's pair.
#include "transport/peer_latching.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>
#include <tuple>

namespace {
constexpr uint32_t kSymmetric = 0xC6120003;  // 198.18.0.3: one player
constexpr uint32_t kShared = 0xC6120004;     // 198.18.0.4: two players behind one translator
constexpr uint32_t kStranger = 0xC6120009;
constexpr uint16_t kPublished = 40000;
constexpr uint16_t kSeenPort = 52011;
constexpr uint32_t kHeardSsrc = 0x11223344;

std::vector<uint8_t> Rtp(uint8_t payloadType, uint32_t ssrc, const char* payload) {
    std::vector<uint8_t> bytes(12 + std::strlen(payload));
    bytes[0] = 0x80;
    bytes[1] = payloadType;
    for (int i = 0; i < 4; ++i) bytes[8 + i] = static_cast<uint8_t>(ssrc >> (24 - 8 * i));
    std::memcpy(bytes.data() + 12, payload, std::strlen(payload));
    return bytes;
}

// A receiver report (PT 201) whose sender is `ssrc`.
std::vector<uint8_t> Rtcp(uint32_t ssrc) {
    return {0x80,
            201,
            0,
            1,
            static_cast<uint8_t>(ssrc >> 24),
            static_cast<uint8_t>(ssrc >> 16),
            static_cast<uint8_t>(ssrc >> 8),
            static_cast<uint8_t>(ssrc)};
}

class PeerLatching : public testing::Test {
protected:
    PeerLatching() {
        for (auto [id, address, port] : {std::tuple{1, kSymmetric, kPublished}, std::tuple{2, kShared, kPublished},
                                         std::tuple{3, kShared, uint16_t(kPublished + 2)}}) {
            PeerEntry& peer = *table.Add(id, address, address, nullptr);
            table.SetPorts(peer, Medium::kVoice, port, port);
        }
        heard[kHeardSsrc] = rtp::RTPIPv4Address(kShared, kPublished + 2);
    }
    // The pair proved, and whether by a greeting alone ("greeting:" before it).
    std::optional<std::string> Latched(uint32_t from, const std::vector<uint8_t>& datagram) {
        const auto proof = PairToLatch(*table.Snapshot(), Medium::kVoice, {from, kSeenPort}, datagram, PairOf());
        if (!proof) return std::nullopt;
        return (proof->byGreeting ? "greeting:" : "media:") + std::to_string(proof->pair.GetPort());
    }
    PairOfSsrc PairOf() {
        return [this](uint32_t ssrc) -> std::optional<rtp::RTPIPv4Address> {
            const auto found = heard.find(ssrc);
            return found == heard.end() ? std::nullopt : std::optional(found->second);
        };
    }

    PeerTable table;
    std::map<uint32_t, rtp::RTPIPv4Address> heard;
};

TEST_F(PeerLatching, OnlyATablePeerWhoseDatagramNamesItIsLatched) {
    const std::optional<std::string> none;
    const std::string symmetric = std::to_string(kPublished), sharedSecond = std::to_string(kPublished + 2);
    const struct {
        const char* what;
        uint32_t from;
        std::vector<uint8_t> datagram;
        std::optional<std::string> latched;
    } cases[] = {
        {"a greeting from the one player at that address", kSymmetric, Rtp(1, 7, "HI"), "greeting:" + symmetric},
        {"an answer to a greeting, too", kSymmetric, Rtp(1, 7, "REHI"), "greeting:" + symmetric},
        {"a greeting from an address not in the table", kStranger, Rtp(1, 7, "HI"), none},
        {"a greeting from an address two players share", kShared, Rtp(1, 7, "HI"), none},
        {"media of an SSRC heard from one of them", kShared, Rtp(97, kHeardSsrc, "media"), "media:" + sharedSecond},
        {"media of that SSRC from another address", kSymmetric, Rtp(97, kHeardSsrc, "media"), none},
        {"media of an SSRC never heard", kSymmetric, Rtp(97, 9, "media"), none},
        {"a greeting's type without the text", kSymmetric, Rtp(1, 7, "XX"), none},
        {"not RTP", kSymmetric, {0x12, 0x34}, none},
    };
    for (const auto& c : cases) EXPECT_EQ(c.latched, Latched(c.from, c.datagram)) << c.what;

    EXPECT_FALSE(PairToLatch(*table.Snapshot(), Medium::kVoice, {kSymmetric, kPublished}, Rtp(1, 7, "HI"), PairOf()))
        << "its own pair needs no latch";
    EXPECT_EQ(rtp::RTPIPv4Address(kShared, kPublished + 3),
              RtcpPairToLatch(*table.Snapshot(), Medium::kVoice, {kShared, kSeenPort}, Rtcp(kHeardSsrc), PairOf()))
        << "RTCP by its sender's SSRC: the pair one port above";
    EXPECT_FALSE(RtcpPairToLatch(*table.Snapshot(), Medium::kVoice, {kStranger, kSeenPort}, Rtcp(kHeardSsrc),
                                 PairOf()));
}

TEST(PeerLatches, SendToTheLatestPortSeenAndKnowItsDatagramsAsThePairs) {
    PeerLatches latches;
    const rtp::RTPIPv4Address pair(kSymmetric, kPublished), first(kSymmetric, kSeenPort),
        second(kSymmetric, kSeenPort + 7);
    EXPECT_EQ(pair, latches.SeenOf(pair)) << "not latched: as published";
    latches.Latch(pair, first);
    latches.Latch(pair, second);  // the translator's mapping changed
    EXPECT_EQ(second, latches.SeenOf(pair));
    EXPECT_EQ(pair, latches.PairOf(second));
    EXPECT_EQ(std::nullopt, latches.PairOf(first)) << "the old port stands for nobody now";
    latches.Forget(second);
    EXPECT_EQ(pair, latches.SeenOf(pair)) << "the port turned out to be another player's own";
    for (uint16_t port = 1; port <= PeerLatches::kMaxLatches + 1; ++port)
        latches.Latch({kShared, port}, {kShared, static_cast<uint16_t>(port + 1000)});
    EXPECT_EQ(std::nullopt, latches.PairOf({kShared, 1001})) << "bounded: the oldest went";
}

// A player not in the table yet may greet from the address of one that is:
// greetings latch only when they keep coming while the port is nobody's.
TEST(PeerLatches, GreetingsLatchOnlyWhenTheyKeepComingFromThatPort) {
    PeerLatches latches;
    const rtp::RTPIPv4Address pair(kSymmetric, kPublished), seen(kSymmetric, kSeenPort);
    EXPECT_FALSE(latches.Greeted(pair, seen, 0));
    EXPECT_FALSE(latches.Greeted(pair, seen, PeerLatches::kGreetingsConfirmMs - 1));
    latches.Forget(seen);  // it was another player's pair after all
    EXPECT_FALSE(latches.Greeted(pair, seen, PeerLatches::kGreetingsConfirmMs)) << "counted anew";
    EXPECT_FALSE(latches.Greeted(pair, {kSymmetric, kSeenPort + 1}, PeerLatches::kGreetingsConfirmMs + 1))
        << "another port: counted anew";
    EXPECT_TRUE(latches.Greeted(pair, {kSymmetric, kSeenPort + 1}, 2 * PeerLatches::kGreetingsConfirmMs + 1));
    EXPECT_EQ(rtp::RTPIPv4Address(kSymmetric, kSeenPort + 1), latches.SeenOf(pair));
}

}  // namespace

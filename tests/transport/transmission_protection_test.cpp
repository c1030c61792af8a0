// An encrypted room's sessions against players played by sockets: what a
// player sends with its keys opens and reaches its sink; whatever does not
// open is dropped before the RTP layer and counted for that player; what the
// sessions send is protected with this engine's keys, the new ones from the
// moment an epoch changes, while the old ones are still heard.
#include "transport/srtp/protector.h"
#include "transport/srtp/unprotector.h"
#include "transport_test_support.h"

#include <atomic>

namespace {
using namespace transport_testing;
using testing_support::kLoopback;
using testing_support::UdpPeer;

constexpr int32_t kOwnId = 1;
constexpr int32_t kPeerId = 5;
constexpr uint8_t kVoice = 102;
constexpr uint32_t kPeerSsrc = 0x5151;

// Keys no other test of the process used: a protector refuses a key twice.
RoomKeys FreshKeys(uint32_t epoch) {
    static std::atomic<uint8_t> rooms{0};
    return RoomKeys{std::vector<uint8_t>(32, static_cast<uint8_t>(0xA0 + rooms++)), Bytes("table 7"), epoch};
}

// A voice packet numbered in its payload as the receive tests number theirs,
// protected with `key`.
std::vector<uint8_t> Protected(srtp::Protector& protector, uint16_t number) {
    std::vector<uint8_t> datagram =
        RtpDatagram(kVoice, number, 0, kPeerSsrc, {1, static_cast<uint8_t>(number >> 8), static_cast<uint8_t>(number)});
    const size_t plain = datagram.size();
    datagram.resize(plain + srtp::kRtpOverheadBytes);
    const srtp::Protected result = protector.Protect(srtp::PacketKind::kRtp, datagram, plain);
    EXPECT_EQ(result.status, srtp::ProtectStatus::kProtected);
    datagram.resize(result.length);
    return datagram;
}

std::unique_ptr<srtp::Protector> ProtectorOf(const RoomKeys& keys, int32_t userId) {
    return srtp::Protector::Create(*keys.SenderKeyOf(userId, Medium::kVoice));
}

class ProtectionTest : public TransmissionTest {
protected:
    void SetUp() override {
        transmission.SetEncrypted(true);
        transmission.SetLocalUserId(kOwnId);
        ASSERT_TRUE(transmission.SetRoomKeys(keys));
        TransmissionTest::SetUp();
        LearnPublicAddresses();
        AddLoopbackPeer(kPeerId, remote, unused, &sink, false);
    }

    ProtectionFigures Figures() {
        ProtectionFigures figures;
        EXPECT_TRUE(transmission.GetProtectionFigures(kPeerId, &figures));
        return figures;
    }
    static uint64_t Seen(const ProtectionFigures& f) {
        return f.accepted + f.authenticationFailures + f.replays + f.unknownEpoch;
    }
    void SendAll(const std::vector<std::vector<uint8_t>>& datagrams) {
        for (const auto& datagram : datagrams)
            ASSERT_TRUE(remote.SendTo(kLoopback, transmission.GetLocalAudioPort(), datagram.data(), datagram.size()));
    }
    // The next datagram our voice session sends the player, opened with our key.
    std::optional<testing_support::RtpView> NextOpened(srtp::Unprotector& ours) {
        for (int i = 0; i < 20; ++i) {
            auto datagram = remote.Receive(500);
            if (!datagram) return std::nullopt;
            if (datagram->bytes.empty()) continue;
            lastEpochByte = datagram->bytes.back();
            const srtp::Unprotected opened = ours.Unprotect(srtp::PacketKind::kRtp, datagram->bytes, 0);
            if (!opened.Accepted()) return std::nullopt;
            datagram->bytes.resize(opened.length);
            return testing_support::ParseRtp(datagram->bytes);
        }
        return std::nullopt;
    }

    RoomKeys keys = FreshKeys(1);
    UdpPeer remote, unused;
    RecordingPacketSink sink;
    uint8_t lastEpochByte = 0;
};

TEST_F(ProtectionTest, OnlyWhatOpensWithThePlayersKeysReachesItsSinkAndTheRestIsCountedByReason) {
    const auto theirs = ProtectorOf(keys, kPeerId);
    RoomKeys wrongSecret = FreshKeys(1);
    const auto stranger = ProtectorOf(wrongSecret, kPeerId);
    RoomKeys later = keys;
    later.epoch = 7;  // never handed to this engine
    const auto ahead = srtp::Protector::Create(*later.SenderKeyOf(kPeerId, Medium::kVoice));
    ASSERT_TRUE(theirs && stranger && ahead);

    const std::vector<uint8_t> first = Protected(*theirs, 0);
    std::vector<uint8_t> flipped = Protected(*theirs, 2);
    flipped[srtp::kRtpHeaderBytes + 1] ^= 0x10;
    // Plain RTP ending in the current epoch's byte: it is checked, and fails.
    const std::vector<uint8_t> plain = RtpDatagram(kVoice, 5, 0, kPeerSsrc, {1, 0, 5, srtp::EpochByte(1)});
    struct Case {
        const char* what;
        std::vector<uint8_t> datagram;
    };
    const Case cases[] = {
        {"the player's packet", first},
        {"the same packet replayed", first},
        {"another packet of the player", Protected(*theirs, 1)},
        {"a flipped bit", flipped},
        {"a player with another secret", Protected(*stranger, 3)},
        {"an epoch not handed out", Protected(*ahead, 4)},
        {"plain RTP", plain},
    };
    for (const Case& c : cases) SendAll({c.datagram});
    ASSERT_TRUE(window.PumpUntil([&] { return Seen(Figures()) == std::size(cases); }, 3000)) << Seen(Figures());
    window.PumpFor(50);

    const ProtectionFigures figures = Figures();
    EXPECT_EQ(figures.accepted, 2u);
    EXPECT_EQ(figures.replays, 1u);
    EXPECT_EQ(figures.authenticationFailures, 3u) << "flipped bit, other secret, plain RTP";
    EXPECT_EQ(figures.unknownEpoch, 1u);
    EXPECT_EQ(figures.dropsInARow, 4u) << "since the last packet that opened";
    ASSERT_EQ(sink.audioPayloads.size(), 2u);
    EXPECT_EQ(sink.audioPayloads[0], (std::vector<uint8_t>{1, 0, 0}));
    EXPECT_EQ(sink.audioPayloads[1], (std::vector<uint8_t>{1, 0, 1}));
    EXPECT_EQ(transmission.AudioSessionForTesting()->GetPacketsInUse(), 0u);
}

TEST_F(ProtectionTest, WhatTheSessionSendsOpensOnlyWithItsKeyAndANewEpochTakesOverAtOnce) {
    const auto ours = srtp::Unprotector::Create();
    ASSERT_TRUE(ours && ours->InstallEpoch(*keys.SenderKeyOf(kOwnId, Medium::kVoice), 0));
    const std::optional<testing_support::RtpView> hello = NextOpened(*ours);
    ASSERT_TRUE(hello);
    EXPECT_EQ(hello->payload, Bytes("HI")) << "the greeting is protected too";
    EXPECT_EQ(lastEpochByte, srtp::EpochByte(1));

    const auto theirs = ProtectorOf(keys, kPeerId);
    ASSERT_TRUE(theirs);
    RoomKeys next = keys;
    next.epoch = 2;
    ASSERT_FALSE(transmission.SetRoomKeys(keys)) << "an epoch not newer is refused";
    ASSERT_TRUE(transmission.SetRoomKeys(next));
    ASSERT_TRUE(ours->InstallEpoch(*next.SenderKeyOf(kOwnId, Medium::kVoice), 0));
    const uint8_t voice[] = {1, 2, 3};
    ASSERT_TRUE(transmission.SendAudio(voice, sizeof voice));
    const std::optional<testing_support::RtpView> sent = NextOpened(*ours);
    ASSERT_TRUE(sent);
    EXPECT_EQ(sent->payload, std::vector<uint8_t>(voice, voice + 3));
    EXPECT_EQ(lastEpochByte, srtp::EpochByte(2));

    // The player still on the old epoch is heard, and so it is on the new one.
    const auto theirsNext = ProtectorOf(next, kPeerId);
    ASSERT_TRUE(theirsNext);
    SendAll({Protected(*theirs, 10), Protected(*theirsNext, 11)});
    ASSERT_TRUE(window.PumpUntil([&] { return sink.audioPayloads.size() == 2u; }, 3000));
    EXPECT_EQ(Figures().accepted, 2u);
}

}  // namespace

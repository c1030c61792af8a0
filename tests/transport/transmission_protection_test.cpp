// An encrypted room's session against a player played by a socket: only
// what opens with the player's keys reaches its sink, the rest is dropped
// before the RTP layer and counted by reason. (What the sessions send, and
// an epoch change, are proven by the encrypted room test.)
#include "transport/srtp/protector.h"
#include "transport_test_support.h"

#include <atomic>

namespace {
using namespace transport_testing;
using testing_support::kLoopback;
using testing_support::UdpPeer;

constexpr int32_t kPeerId = 5;

// Keys no other test of the process used: a protector takes a key once.
RoomKeys FreshKeys(uint32_t epoch) {
    static std::atomic<uint8_t> rooms{0};
    return RoomKeys{std::vector<uint8_t>(32, static_cast<uint8_t>(0xA0 + rooms++)), Bytes("table 7"), epoch};
}

std::unique_ptr<srtp::Protector> ProtectorOf(const RoomKeys& keys) {
    return srtp::Protector::Create(*keys.SenderKeyOf(kPeerId, Medium::kVoice));
}

// A voice packet of the player numbered `n` in its payload, protected.
std::vector<uint8_t> Protected(srtp::Protector& protector, uint8_t n) {
    std::vector<uint8_t> datagram = RtpDatagram(102, n, 0, 0x5151, {1, 0, n});
    const size_t plain = datagram.size();
    datagram.resize(plain + srtp::kRtpOverheadBytes);
    datagram.resize(protector.Protect(srtp::PacketKind::kRtp, datagram, plain).length);
    return datagram;
}

class ProtectionTest : public TransmissionTest {
protected:
    void SetUp() override {
        transmission.SetEncrypted(true);
        transmission.SetLocalUserId(1);
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
    void Send(const std::vector<uint8_t>& datagram) {
        ASSERT_TRUE(remote.SendTo(kLoopback, transmission.GetLocalAudioPort(), datagram.data(), datagram.size()));
    }
    RoomKeys keys = FreshKeys(1);
    UdpPeer remote, unused;
    RecordingPacketSink sink;
};

TEST_F(ProtectionTest, OnlyWhatOpensWithThePlayersKeysReachesItsSinkAndTheRestIsCountedByReason) {
    RoomKeys ahead = keys;
    ahead.epoch = 7;  // never handed to this engine
    const auto theirs = ProtectorOf(keys), stranger = ProtectorOf(FreshKeys(1)), early = ProtectorOf(ahead);
    ASSERT_TRUE(theirs && stranger && early);
    const std::vector<uint8_t> first = Protected(*theirs, 0);
    std::vector<uint8_t> flipped = Protected(*theirs, 2);
    flipped[srtp::kRtpHeaderBytes + 1] ^= 0x10;
    const std::vector<std::vector<uint8_t>> sent = {
        first,
        first,                                                          // replayed
        Protected(*theirs, 1),                                          //
        flipped,                                                        // authentication
        Protected(*stranger, 3),                                        // another secret: authentication
        Protected(*early, 4),                                           // unknown epoch
        RtpDatagram(102, 5, 0, 0x5151, {1, 0, 5, srtp::EpochByte(1)}),  // plain, ends as epoch 1: authentication
    };
    for (const auto& datagram : sent) Send(datagram);
    const auto seen = [&] {
        const ProtectionFigures f = Figures();
        return f.accepted + f.authenticationFailures + f.replays + f.unknownEpoch;
    };
    ASSERT_TRUE(window.PumpUntil([&] { return seen() == sent.size(); }, 3000)) << seen();
    window.PumpFor(50);

    const ProtectionFigures figures = Figures();
    EXPECT_EQ(figures.accepted, 2u);
    EXPECT_EQ(figures.replays, 1u);
    EXPECT_EQ(figures.authenticationFailures, 3u);
    EXPECT_EQ(figures.unknownEpoch, 1u);
    EXPECT_EQ(figures.dropsInARow, 4u);
    EXPECT_EQ(sink.audioPayloads, (std::vector<std::vector<uint8_t>>{{1, 0, 0}, {1, 0, 1}}));
    EXPECT_EQ(transmission.AudioSessionForTesting()->GetPacketsInUse(), 0u);
}

}  // namespace

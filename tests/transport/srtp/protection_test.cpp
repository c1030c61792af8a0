// A sender's protector and a receiver's unprotector: round trips, what must
// be dropped, epochs on a fake clock, resent packets, the two-time-pad rule.
#include <gtest/gtest.h>
#include <srtp2/srtp.h>

#include <functional>
#include <map>

#include "tests/transport/srtp/srtp_test_support.h"
#include "transport/srtp/library_hold.h"
#include "transport/srtp/protector.h"
#include "transport/srtp/srtp_session.h"
#include "transport/srtp/unprotector.h"

namespace {
using namespace srtp;
using namespace srtp_test;

constexpr uint32_t kSsrc = 0x1234ABCD;
constexpr int64_t kStartMs = 1000;

std::unique_ptr<Protector> ProtectorFor(const SenderKey& key) {
    std::unique_ptr<Protector> protector = Protector::Create(key);
    EXPECT_TRUE(protector);
    return protector;
}

std::unique_ptr<Unprotector> UnprotectorFor(const SenderKey& key) {
    std::unique_ptr<Unprotector> unprotector = Unprotector::Create();
    EXPECT_TRUE(unprotector->InstallEpoch(key, kStartMs));
    return unprotector;
}

Verdict Deliver(Unprotector& unprotector, Datagram datagram, int64_t nowMs = kStartMs) {
    return unprotector.Unprotect(datagram.kind, datagram.Bytes(), nowMs).verdict;
}

TEST(Protection, RoundTripsRtpAndRtcpWithTheStatedOverhead) {
    const SenderKey key = KeyFor(FreshSecret(), 3);
    auto protector = ProtectorFor(key);
    auto unprotector = UnprotectorFor(key);
    // RTCP first, then RTP far into the sequence space and across its wrap.
    std::vector<Datagram> sent = {Rtcp(kSsrc), Rtp(40000, kSsrc)};
    for (uint32_t sequence = 65534; sequence <= 65538; ++sequence)
        sent.push_back(Rtp(static_cast<uint16_t>(sequence), kSsrc, 1200));
    sent.push_back(Rtcp(kSsrc));
    for (Datagram& datagram : sent) {
        const std::vector<uint8_t> plain = datagram.Copy();
        const auto header = static_cast<ptrdiff_t>(HeaderBytes(datagram.kind));
        Protect(*protector, datagram);
        ASSERT_EQ(datagram.length, plain.size() + OverheadBytes(datagram.kind));
        EXPECT_EQ(datagram.Bytes().back(), 3) << "the epoch's byte ends the datagram";
        EXPECT_TRUE(std::equal(plain.begin(), plain.begin() + header, datagram.buffer.begin()));
        EXPECT_FALSE(std::equal(plain.begin() + header, plain.end(), datagram.buffer.begin() + header));
        const Unprotected opened = unprotector->Unprotect(datagram.kind, datagram.Bytes(), kStartMs);
        ASSERT_TRUE(opened.Accepted());
        datagram.length = opened.length;
        EXPECT_EQ(datagram.Copy(), plain);
    }
    EXPECT_EQ(unprotector->Count(Verdict::kAccepted), sent.size());
}

TEST(Protection, DropsWhatDidNotComeAuthenticFromThePeer) {
    const std::vector<uint8_t> secret = FreshSecret();
    const SenderKey key = KeyFor(secret, 1);
    auto protector = ProtectorFor(key);
    auto unprotector = UnprotectorFor(key);
    auto otherRoom = ProtectorFor(KeyFor(FreshSecret(), 1));
    auto otherSender = ProtectorFor(KeyFor(secret, 1, 2));
    auto laterEpoch = ProtectorFor(KeyFor(secret, 2));
    uint16_t sequence = 100;
    auto fresh = [&](Protector& by) {
        Datagram datagram = Rtp(++sequence, kSsrc);
        return Protect(by, datagram);
    };
    auto flipped = [](Datagram datagram, size_t at) {
        datagram.buffer[at] ^= 0x10;
        return datagram;
    };
    auto plainEndingIn = [&](uint8_t last) {
        Datagram datagram = Rtp(++sequence, kSsrc, 30);
        datagram.buffer[datagram.length - 1] = last;
        return datagram;
    };
    struct Row {
        const char* what;
        std::function<Datagram(const Datagram& genuine)> forge;
        Verdict verdict;
        bool genuineStillNew = true;  // the genuine packet is accepted after the forged one
    };
    const std::vector<Row> rows = {
        {"another room's key", [&](const Datagram&) { return fresh(*otherRoom); }, Verdict::kAuthentication},
        {"another sender's key", [&](const Datagram&) { return fresh(*otherSender); }, Verdict::kAuthentication},
        {"a bit flipped in the header", [&](const Datagram& g) { return flipped(g, 1); }, Verdict::kAuthentication},
        {"a bit flipped in the payload", [&](const Datagram& g) { return flipped(g, 20); }, Verdict::kAuthentication},
        {"a bit flipped in the tag", [&](const Datagram& g) { return flipped(g, g.length - 2); },
         Verdict::kAuthentication},
        {"the epoch byte changed", [&](const Datagram& g) { return flipped(g, g.length - 1); }, Verdict::kUnknownEpoch},
        {"an epoch not installed", [&](const Datagram&) { return fresh(*laterEpoch); }, Verdict::kUnknownEpoch},
        {"cut inside the tag",
         [&](const Datagram& g) {
             Datagram cut = g;
             cut.buffer[cut.length - 5] = cut.buffer[cut.length - 1];
             cut.length -= 4;
             return cut;
         },
         Verdict::kAuthentication},
        {"shorter than a header and the overhead",
         [&](const Datagram& g) {
             Datagram cut = g;
             cut.buffer[kRtpHeaderBytes + kRtpOverheadBytes - 2] = cut.buffer[cut.length - 1];
             cut.length = kRtpHeaderBytes + kRtpOverheadBytes - 1;
             return cut;
         },
         Verdict::kMalformed},
        {"not version 2", [&](const Datagram& g) { return flipped(g, 0); }, Verdict::kMalformed},
        {"plain RTP", [&](const Datagram&) { return plainEndingIn('I'); }, Verdict::kUnknownEpoch},
        {"plain RTP ending in the epoch's byte", [&](const Datagram&) { return plainEndingIn(1); },
         Verdict::kAuthentication},
        {"plain RTCP", [&](const Datagram&) { return Rtcp(kSsrc); }, Verdict::kUnknownEpoch},
        {"replayed",
         [&](const Datagram& g) {
             EXPECT_EQ(Deliver(*unprotector, g), Verdict::kAccepted);
             return g;
         },
         Verdict::kReplay, false},
        {"behind the replay window",
         [&](const Datagram& g) {
             sequence = static_cast<uint16_t>(sequence + kReplayWindowPackets - 1);
             EXPECT_EQ(Deliver(*unprotector, fresh(*protector)), Verdict::kAccepted);
             return g;
         },
         Verdict::kReplay, false},
    };
    std::map<Verdict, uint64_t> expected;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        const Datagram genuine = fresh(*protector);
        EXPECT_EQ(Deliver(*unprotector, row.forge(genuine)), row.verdict);
        ++expected[row.verdict];
        if (row.genuineStillNew) {
            EXPECT_EQ(Deliver(*unprotector, genuine), Verdict::kAccepted);
        }
    }
    EXPECT_EQ(unprotector->DropsInARow(), 1u);
    EXPECT_EQ(unprotector->Count(Verdict::kAccepted), rows.size());
    for (auto [verdict, count] : expected) EXPECT_EQ(unprotector->Count(verdict), count);
}

TEST(Protection, APreviousEpochIsHeardForItsGraceThenNoMore) {
    const std::vector<uint8_t> secret = FreshSecret();
    std::vector<std::unique_ptr<Protector>> senders;
    for (uint32_t epoch = 0; epoch <= 4; ++epoch) senders.push_back(ProtectorFor(KeyFor(secret, epoch)));
    uint16_t sequence = 0;
    auto from = [&](uint32_t epoch) {
        Datagram datagram = Rtp(++sequence, kSsrc);
        return Protect(*senders[epoch], datagram);
    };
    auto unprotector = UnprotectorFor(KeyFor(secret, 1));
    EXPECT_FALSE(unprotector->InstallEpoch(KeyFor(secret, 1), kStartMs)) << "not newer";
    EXPECT_FALSE(unprotector->InstallEpoch(KeyFor(secret, 0), kStartMs)) << "older";

    const int64_t switchMs = kStartMs + 60000;
    ASSERT_TRUE(unprotector->InstallEpoch(KeyFor(secret, 2), switchMs));
    const int64_t endMs = switchMs + Unprotector::kPreviousEpochGraceMs;
    EXPECT_EQ(Deliver(*unprotector, from(2), switchMs), Verdict::kAccepted);
    EXPECT_EQ(Deliver(*unprotector, from(1), endMs - 1), Verdict::kAccepted);
    EXPECT_EQ(Deliver(*unprotector, from(1), endMs), Verdict::kUnknownEpoch);
    EXPECT_EQ(Deliver(*unprotector, from(2), endMs), Verdict::kAccepted);

    // Two more switches within the grace: the current and two before it.
    ASSERT_TRUE(unprotector->InstallEpoch(KeyFor(secret, 3), endMs + 100));
    ASSERT_TRUE(unprotector->InstallEpoch(KeyFor(secret, 4), endMs + 200));
    for (uint32_t epoch : {2u, 3u, 4u}) EXPECT_EQ(Deliver(*unprotector, from(epoch), endMs + 300), Verdict::kAccepted);
}

TEST(Protection, EpochsSharingTheirByteAreNeverTakenForOneAnother) {
    const std::vector<uint8_t> secret = FreshSecret();
    auto first = ProtectorFor(KeyFor(secret, 1));
    auto sameByte = ProtectorFor(KeyFor(secret, 257));
    auto unprotector = UnprotectorFor(KeyFor(secret, 1));
    ASSERT_TRUE(unprotector->InstallEpoch(KeyFor(secret, 257), kStartMs));
    Datagram late = Rtp(1, kSsrc), current = Rtp(2, kSsrc);
    EXPECT_EQ(Deliver(*unprotector, Protect(*first, late)), Verdict::kAuthentication);
    EXPECT_EQ(Deliver(*unprotector, Protect(*sameByte, current)), Verdict::kAccepted);
}

TEST(Protection, AResentPacketIsAcceptedOnlyWhereTheOriginalWasLost) {
    const SenderKey key = KeyFor(FreshSecret(), 1);
    auto protector = ProtectorFor(key);
    auto unprotector = UnprotectorFor(key);
    std::map<uint16_t, Datagram> stored;  // the sender's history: protected bytes
    for (uint16_t sequence : {1, 2, 3, 4, 5, 6, 7, 134}) {
        stored[sequence] = Rtp(sequence, kSsrc);
        Protect(*protector, stored[sequence]);
    }
    for (uint16_t sequence : {1, 2, 4, 5}) ASSERT_EQ(Deliver(*unprotector, stored[sequence]), Verdict::kAccepted);
    EXPECT_EQ(Deliver(*unprotector, stored[3]), Verdict::kAccepted) << "lost, then resent";
    EXPECT_EQ(Deliver(*unprotector, stored[4]), Verdict::kReplay) << "arrived, then resent";
    // The window holds the newest and the 127 before it.
    ASSERT_EQ(Deliver(*unprotector, stored[134]), Verdict::kAccepted);
    EXPECT_EQ(Deliver(*unprotector, stored[7]), Verdict::kAccepted);
    EXPECT_EQ(Deliver(*unprotector, stored[6]), Verdict::kReplay);
}

TEST(Protection, NeverProtectsOneIndexTwiceUnderAKey) {
    const SenderKey key = KeyFor(FreshSecret(), 1);
    auto protector = ProtectorFor(key);
    auto status = [&](Datagram datagram) {
        return protector->Protect(datagram.kind, datagram.buffer, datagram.length).status;
    };
    EXPECT_EQ(status(Rtp(1000, kSsrc)), ProtectStatus::kProtected);
    EXPECT_EQ(status(Rtp(1000, kSsrc)), ProtectStatus::kIndexUsed) << "protected again";
    EXPECT_EQ(status(Rtp(1000 - kReplayWindowPackets, kSsrc)), ProtectStatus::kIndexUsed) << "too far back to know";
    // After a collision the sender moves on and may not come back.
    EXPECT_EQ(status(Rtp(1001, kSsrc + 1)), ProtectStatus::kProtected);
    EXPECT_EQ(status(Rtp(1002, kSsrc)), ProtectStatus::kSsrcRetired);
    EXPECT_EQ(status(Rtcp(kSsrc)), ProtectStatus::kSsrcRetired);
    for (uint32_t ssrc = kSsrc + 2; ssrc < kSsrc + Protector::kMaxSsrcs; ++ssrc)
        EXPECT_EQ(status(Rtp(1003, ssrc)), ProtectStatus::kProtected);
    EXPECT_EQ(status(Rtp(1004, kSsrc + Protector::kMaxSsrcs)), ProtectStatus::kTooManySsrcs);
    EXPECT_EQ(status(Rtcp(kSsrc + Protector::kMaxSsrcs - 1)), ProtectStatus::kProtected) << "the one in use";

    protector.reset();
    Protector::Setup setup = Protector::Setup::kReady;
    EXPECT_FALSE(Protector::Create(key, &setup)) << "a restarted sender with the same key";
    EXPECT_EQ(setup, Protector::Setup::kKeyUsedBefore);
}

TEST(Protection, RefusesWhatItCannotProtectInTheCallersBuffer) {
    auto protector = ProtectorFor(KeyFor(FreshSecret(), 1));
    Datagram tight = Rtp(1, kSsrc);
    tight.buffer.resize(tight.length + kRtpOverheadBytes - 1);
    const std::vector<uint8_t> before = tight.buffer;
    EXPECT_EQ(protector->Protect(tight.kind, tight.buffer, tight.length).status, ProtectStatus::kNoRoom);
    EXPECT_EQ(tight.buffer, before);
    Datagram rtcp = Rtcp(kSsrc);
    EXPECT_EQ(protector->Protect(rtcp.kind, std::span(rtcp.buffer).first(rtcp.length + kRtpOverheadBytes), rtcp.length)
                  .status,
              ProtectStatus::kNoRoom)
        << "RTCP needs its index too";
    Datagram packet = Rtp(2, kSsrc);
    EXPECT_EQ(protector->Protect(packet.kind, packet.buffer, packet.buffer.size() + 1).status,
              ProtectStatus::kMalformed);
    EXPECT_EQ(protector->Protect(packet.kind, packet.buffer, kRtpHeaderBytes - 1).status, ProtectStatus::kMalformed);
    packet.buffer[0] = 0x40;
    EXPECT_EQ(protector->Protect(packet.kind, packet.buffer, packet.length).status, ProtectStatus::kMalformed);
}

// libsrtp itself as an insider who knows the key and draws new SSRCs.
TEST(Protection, AnEpochOpensABoundedNumberOfStreamsAndForgersOpenNone) {
    const std::vector<uint8_t> secret = FreshSecret();
    const SenderKey key = KeyFor(secret, 1);
    auto unprotector = UnprotectorFor(key);
    auto outsider = ProtectorFor(KeyFor(FreshSecret(), 1));
    for (uint32_t ssrc = 1; ssrc <= 3 * Unprotector::kMaxStreamsPerEpoch; ++ssrc) {
        Datagram forged = Rtp(1, ssrc);
        ASSERT_EQ(Deliver(*unprotector, Protect(*outsider, forged)), Verdict::kAuthentication);
        // The outsider's protector is spent on SSRCs; another for the next.
        if (ssrc % Protector::kMaxSsrcs == 0) outsider = ProtectorFor(KeyFor(FreshSecret(), 1));
    }
    LibraryHold hold;
    Session insider = CreateSession(key, Direction::kProtect);
    ASSERT_TRUE(insider);
    auto byInsider = [&](uint16_t sequence, uint32_t ssrc) {
        Datagram datagram = Rtp(sequence, ssrc);
        int length = static_cast<int>(datagram.length);
        EXPECT_EQ(srtp_protect_mki(insider.get(), datagram.buffer.data(), &length, 1, 0), srtp_err_status_ok);
        datagram.length = static_cast<size_t>(length);
        return datagram;
    };
    for (uint32_t ssrc = 1; ssrc <= Unprotector::kMaxStreamsPerEpoch; ++ssrc)
        EXPECT_EQ(Deliver(*unprotector, byInsider(1, ssrc)), Verdict::kAccepted);
    EXPECT_EQ(Deliver(*unprotector, byInsider(1, 100)), Verdict::kTooManyStreams);
    EXPECT_EQ(Deliver(*unprotector, byInsider(2, 1)), Verdict::kAccepted) << "the streams it has go on";
}

}  // namespace

// A sender's protector and a receiver's unprotector: round trips, what must
// be dropped, epochs on a fake clock, resent packets, the two-time-pad rule.
#include "tests/transport/srtp/srtp_test_support.h"
#include "transport/srtp/library_hold.h"
#include "transport/srtp/srtp_session.h"
#include "transport/srtp/unprotector.h"

#include <gtest/gtest.h>
#include <srtp2/srtp.h>

#include <map>

namespace {
using namespace srtp;
using namespace srtp_test;

constexpr uint32_t kSsrc = 0x1234ABCD;
constexpr int64_t kStartMs = 1000;

std::unique_ptr<Unprotector> UnprotectorFor(const SenderKey& key) {
    std::unique_ptr<Unprotector> unprotector = Unprotector::Create();
    EXPECT_TRUE(unprotector->InstallEpoch(key, kStartMs));
    return unprotector;
}

Verdict Deliver(Unprotector& unprotector, Datagram datagram, int64_t nowMs = kStartMs) {
    return unprotector.Unprotect(datagram.kind, datagram.Bytes(), nowMs).verdict;
}

Datagram Changed(Datagram datagram, size_t at, uint8_t to) {
    datagram.buffer[at] = to;
    return datagram;
}

// Shortened to `length`, the epoch's byte kept last.
Datagram Cut(Datagram datagram, size_t length) {
    datagram.buffer[length - 1] = datagram.buffer[datagram.length - 1];
    datagram.length = length;
    return datagram;
}

TEST(Protection, RoundTripsRtpAndRtcpWithTheStatedOverhead) {
    const SenderKey key = KeyFor(FreshSecret(), 3);
    auto protector = ProtectorFor(key);
    auto unprotector = UnprotectorFor(key);
    // RTCP first, then RTP far into the sequence space and across its wrap.
    std::vector<Datagram> sent = {Rtcp(kSsrc), Rtp(40000, kSsrc)};
    for (uint32_t sequence = 65534; sequence <= 65538; ++sequence)
        sent.push_back(Rtp(static_cast<uint16_t>(sequence), kSsrc, 1200));
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
}

TEST(Protection, DropsWhatDidNotComeAuthenticFromThePeer) {
    const std::vector<uint8_t> secret = FreshSecret();
    const SenderKey key = KeyFor(secret, 1);
    auto protector = ProtectorFor(key);
    auto unprotector = UnprotectorFor(key);
    auto from = [&](const SenderKey& by, uint16_t sequence) {
        Datagram datagram = Rtp(sequence, kSsrc);
        return Protect(*ProtectorFor(by), datagram);
    };
    // The newest packet heard is 129; 1 was lost, 10 is on its way.
    Datagram old = Rtp(1, kSsrc), genuine = Rtp(10, kSsrc), newest = Rtp(1 + kReplayWindowPackets, kSsrc);
    for (Datagram* datagram : {&old, &genuine, &newest}) Protect(*protector, *datagram);
    ASSERT_EQ(Deliver(*unprotector, newest), Verdict::kAccepted);
    const Datagram plain = Rtp(12, kSsrc), greeting = Rtp(13, kSsrc, 2);
    struct Row {
        const char* what;
        Datagram datagram;
        Verdict verdict;
    };
    const std::vector<Row> rows = {
        {"another room's key", from(KeyFor(FreshSecret(), 1), 10), Verdict::kAuthentication},
        {"another sender's key", from(KeyFor(secret, 1, 2), 10), Verdict::kAuthentication},
        {"a bit flipped in the header", Changed(genuine, 1, genuine.buffer[1] ^ 1), Verdict::kAuthentication},
        {"a bit flipped in the payload", Changed(genuine, 20, genuine.buffer[20] ^ 1), Verdict::kAuthentication},
        {"a bit flipped in the tag", Changed(genuine, genuine.length - 2, genuine.buffer[genuine.length - 2] ^ 1),
         Verdict::kAuthentication},
        {"cut inside the tag", Cut(genuine, genuine.length - 4), Verdict::kAuthentication},
        {"plain media ending in the epoch's byte", Changed(plain, plain.length - 1, 1), Verdict::kAuthentication},
        {"the epoch's byte changed", Changed(genuine, genuine.length - 1, 2), Verdict::kUnknownEpoch},
        {"replayed", newest, Verdict::kReplay},
        {"behind the replay window", old, Verdict::kReplay},
        {"an epoch not installed", from(KeyFor(secret, 2), 10), Verdict::kUnknownEpoch},
        {"plain media", plain, Verdict::kUnknownEpoch},
        {"plain RTCP", Changed(Rtcp(kSsrc), 31, 0), Verdict::kUnknownEpoch},
        {"a plain greeting, shorter than any protected packet", greeting, Verdict::kMalformed},
        {"not version 2", Changed(genuine, 0, 0x40), Verdict::kMalformed},
        {"shorter than a header and the overhead", Cut(genuine, kRtpHeaderBytes + kRtpOverheadBytes - 1),
         Verdict::kMalformed},
    };
    std::map<Verdict, uint64_t> expected;
    for (const Row& row : rows) {
        EXPECT_EQ(Deliver(*unprotector, row.datagram), row.verdict) << row.what;
        ++expected[row.verdict];
    }
    EXPECT_EQ(unprotector->DropsInARow(), rows.size());
    for (auto [verdict, count] : expected) EXPECT_EQ(unprotector->Count(verdict), count);

    EXPECT_EQ(Deliver(*unprotector, genuine), Verdict::kAccepted) << "no forgery spent its place";
    EXPECT_EQ(unprotector->DropsInARow(), 0u);
}

TEST(Protection, EarlierEpochsAreHeardForTheirGraceAndNeverMistaken) {
    const std::vector<uint8_t> secret = FreshSecret();
    std::map<uint32_t, std::unique_ptr<Protector>> senders;
    for (uint32_t epoch : {0, 1, 2, 3, 4, 5, 257}) senders[epoch] = ProtectorFor(KeyFor(secret, epoch));
    uint16_t sequence = 0;
    auto heard = [&](Unprotector& by, uint32_t epoch, int64_t nowMs) {
        Datagram datagram = Rtp(++sequence, kSsrc);
        return Deliver(by, Protect(*senders[epoch], datagram), nowMs);
    };
    auto unprotector = UnprotectorFor(KeyFor(secret, 1));
    EXPECT_FALSE(unprotector->InstallEpoch(KeyFor(secret, 1), kStartMs)) << "not newer";
    EXPECT_FALSE(unprotector->InstallEpoch(KeyFor(secret, 0), kStartMs)) << "older";

    const int64_t switchMs = kStartMs + 60000, endMs = switchMs + Unprotector::kPreviousEpochGraceMs;
    ASSERT_TRUE(unprotector->InstallEpoch(KeyFor(secret, 2), switchMs));
    EXPECT_EQ(heard(*unprotector, 2, switchMs), Verdict::kAccepted);
    EXPECT_EQ(heard(*unprotector, 1, endMs - 1), Verdict::kAccepted);
    EXPECT_EQ(heard(*unprotector, 1, endMs), Verdict::kUnknownEpoch);
    // Three more switches within the grace: the current and the two before it stay.
    for (uint32_t epoch : {3, 4, 5}) ASSERT_TRUE(unprotector->InstallEpoch(KeyFor(secret, epoch), endMs + epoch));
    for (uint32_t epoch : {3, 4, 5}) EXPECT_EQ(heard(*unprotector, epoch, endMs + 10), Verdict::kAccepted);
    EXPECT_EQ(heard(*unprotector, 2, endMs + 10), Verdict::kUnknownEpoch);

    // 257 shares its byte with 1: once it comes, 1's packets cannot pass for its.
    auto other = UnprotectorFor(KeyFor(secret, 1));
    ASSERT_TRUE(other->InstallEpoch(KeyFor(secret, 257), kStartMs));
    EXPECT_EQ(heard(*other, 1, kStartMs), Verdict::kAuthentication);
    EXPECT_EQ(heard(*other, 257, kStartMs), Verdict::kAccepted);
}

TEST(Protection, AResentPacketIsAcceptedOnlyWhereTheOriginalWasLost) {
    const SenderKey key = KeyFor(FreshSecret(), 1);
    auto protector = ProtectorFor(key);
    auto unprotector = UnprotectorFor(key);
    std::map<uint16_t, Datagram> stored;  // the sender's history: protected bytes
    for (uint16_t sequence : {1, 2, 3, 4, 6, 7, 134}) {
        stored[sequence] = Rtp(sequence, kSsrc);
        Protect(*protector, stored[sequence]);
    }
    for (uint16_t sequence : {1, 2, 4}) ASSERT_EQ(Deliver(*unprotector, stored[sequence]), Verdict::kAccepted);
    EXPECT_EQ(Deliver(*unprotector, stored[3]), Verdict::kAccepted) << "lost, then resent";
    EXPECT_EQ(Deliver(*unprotector, stored[4]), Verdict::kReplay) << "arrived, then resent";
    // The window holds the newest and the 127 before it.
    ASSERT_EQ(Deliver(*unprotector, stored[134]), Verdict::kAccepted);
    EXPECT_EQ(Deliver(*unprotector, stored[7]), Verdict::kAccepted);
    EXPECT_EQ(Deliver(*unprotector, stored[6]), Verdict::kReplay);
}

TEST(Protection, RefusesWhatCouldRepeatAnIndexOrDoesNotFit) {
    const SenderKey key = KeyFor(FreshSecret(), 1);
    auto protector = ProtectorFor(key);
    auto status = [&](Datagram datagram, size_t bufferBytes = 0, size_t length = 0) {
        if (bufferBytes) datagram.buffer.resize(bufferBytes);
        return protector->Protect(datagram.kind, datagram.buffer, length ? length : datagram.length).status;
    };
    EXPECT_EQ(status(Rtp(1000, kSsrc)), ProtectStatus::kProtected);
    EXPECT_EQ(status(Rtp(1000, kSsrc)), ProtectStatus::kIndexUsed) << "protected again";
    EXPECT_EQ(status(Rtp(1000 - kReplayWindowPackets, kSsrc)), ProtectStatus::kIndexUsed) << "too far back";
    // After a collision the sender moves on and may not come back.
    EXPECT_EQ(status(Rtp(1001, kSsrc + 1)), ProtectStatus::kProtected);
    EXPECT_EQ(status(Rtp(1002, kSsrc)), ProtectStatus::kSsrcRetired);
    EXPECT_EQ(status(Rtcp(kSsrc)), ProtectStatus::kSsrcRetired);
    for (uint32_t ssrc = kSsrc + 2; ssrc < kSsrc + Protector::kMaxSsrcs; ++ssrc)
        EXPECT_EQ(status(Rtp(1003, ssrc)), ProtectStatus::kProtected);
    const uint32_t last = kSsrc + Protector::kMaxSsrcs - 1;
    EXPECT_EQ(status(Rtp(1004, last + 1)), ProtectStatus::kTooManySsrcs);
    EXPECT_EQ(status(Rtcp(last)), ProtectStatus::kProtected) << "the one in use";

    const Datagram rtp = Rtp(1005, last), rtcp = Rtcp(last);
    EXPECT_EQ(status(rtp, rtp.length + kRtpOverheadBytes - 1), ProtectStatus::kNoRoom);
    EXPECT_EQ(status(rtcp, rtcp.length + kRtpOverheadBytes), ProtectStatus::kNoRoom) << "RTCP's index too";
    EXPECT_EQ(status(rtp, 0, rtp.buffer.size() + 1), ProtectStatus::kMalformed);
    EXPECT_EQ(status(rtp, 0, kRtpHeaderBytes - 1), ProtectStatus::kMalformed);
    EXPECT_EQ(status(Changed(rtp, 0, 0x40)), ProtectStatus::kMalformed);

    protector.reset();
    Protector::Setup setup = Protector::Setup::kReady;
    EXPECT_FALSE(Protector::Create(key, &setup)) << "a restarted sender with the same key";
    EXPECT_EQ(setup, Protector::Setup::kKeyUsedBefore);
}

TEST(Protection, AnEpochOpensABoundedNumberOfStreamsAndForgersOpenNone) {
    const SenderKey key = KeyFor(FreshSecret(), 1);
    auto unprotector = UnprotectorFor(key);
    const SenderKey outsider = KeyFor(FreshSecret(), 1);
    LibraryHold hold;
    // libsrtp itself, without a protector's SSRC limit, as an insider and an outsider.
    Session insiderSession = CreateSession(key, Direction::kProtect);
    Session outsiderSession = CreateSession(outsider, Direction::kProtect);
    auto by = [](Session& session, uint32_t ssrc, uint16_t sequence = 1) {
        Datagram datagram = Rtp(sequence, ssrc);
        int length = static_cast<int>(datagram.length);
        EXPECT_EQ(srtp_protect_mki(session.get(), datagram.buffer.data(), &length, 1, 0), srtp_err_status_ok);
        datagram.length = static_cast<size_t>(length);
        return datagram;
    };
    for (uint32_t ssrc = 1; ssrc <= 3 * Unprotector::kMaxStreamsPerEpoch; ++ssrc)
        ASSERT_EQ(Deliver(*unprotector, by(outsiderSession, ssrc)), Verdict::kAuthentication);
    for (uint32_t ssrc = 1; ssrc <= Unprotector::kMaxStreamsPerEpoch; ++ssrc)
        EXPECT_EQ(Deliver(*unprotector, by(insiderSession, ssrc)), Verdict::kAccepted);
    EXPECT_EQ(Deliver(*unprotector, by(insiderSession, 100)), Verdict::kTooManyStreams);
    EXPECT_EQ(Deliver(*unprotector, by(insiderSession, 1, 2)), Verdict::kAccepted) << "the streams it has go on";
}

}  // namespace

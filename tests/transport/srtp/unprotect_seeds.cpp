#include "tests/transport/srtp/unprotect_seeds.h"

#include "tests/transport/srtp/srtp_test_support.h"
#include "tests/transport/srtp/unprotect_records.h"
#include "transport/srtp/library_hold.h"
#include "transport/srtp/srtp_session.h"

#include <srtp2/srtp.h>

#include <map>
#include <memory>

namespace unprotect_records {
namespace {
using srtp::PacketKind;
using srtp::Verdict;
using srtp_test::Datagram;

constexpr uint32_t kSsrc = 0x0BADCAFE;

// Protects with libsrtp directly, so that a seed may hold more SSRCs under
// one key than a protector would take.
class Sender {
public:
    Datagram Protect(Datagram datagram, uint32_t epoch) {
        srtp::Session& session = sessions_[epoch];
        if (!session) session = srtp::CreateSession(RoomKey(epoch), srtp::Direction::kProtect);
        int length = static_cast<int>(datagram.length);
        const bool rtp = datagram.kind == PacketKind::kRtp;
        if ((rtp ? srtp_protect_mki(session.get(), datagram.buffer.data(), &length, 1, 0)
                 : srtp_protect_rtcp_mki(session.get(), datagram.buffer.data(), &length, 1, 0)) != srtp_err_status_ok)
            length = 0;
        datagram.length = static_cast<size_t>(length);
        return datagram;
    }

private:
    srtp::LibraryHold hold_;
    std::map<uint32_t, srtp::Session> sessions_;
};

class SeedBuilder {
public:
    explicit SeedBuilder(std::string name) { seed_.name = std::move(name); }
    SeedBuilder& Add(Datagram datagram, Verdict verdict, bool nextEpoch = false, int advanceSteps = 0) {
        AppendRecord(seed_.input, Control(datagram.kind, nextEpoch, advanceSteps), datagram.Bytes());
        seed_.verdicts.push_back(verdict);
        return *this;
    }
    Seed Take() { return std::move(seed_); }

private:
    Seed seed_;
};

Datagram Flipped(Datagram datagram, size_t at) {
    datagram.buffer[at] ^= 0x01;
    return datagram;
}
}  // namespace

std::vector<Seed> UnprotectSeeds() {
    using srtp_test::Rtcp;
    using srtp_test::Rtp;
    // Each seed from a sender of its own, whose packet indexes start afresh.
    std::unique_ptr<Sender> sender;
    auto from = [&](Datagram datagram, uint32_t epoch = kFirstEpoch) { return sender->Protect(datagram, epoch); };
    std::vector<Seed> seeds;

    sender = std::make_unique<Sender>();

    seeds.push_back(SeedBuilder("in_order")
                        .Add(from(Rtcp(kSsrc)), Verdict::kAccepted)
                        .Add(from(Rtp(1, kSsrc)), Verdict::kAccepted)
                        .Add(from(Rtp(2, kSsrc)), Verdict::kAccepted)
                        .Add(from(Rtp(3, kSsrc, 1200)), Verdict::kAccepted)
                        .Add(from(Rtcp(kSsrc)), Verdict::kAccepted)
                        .Take());

    sender = std::make_unique<Sender>();
    SeedBuilder lost("lost_resent_replayed_forged");
    std::map<uint16_t, Datagram> history;
    for (uint16_t sequence = 11; sequence <= 16; ++sequence) history[sequence] = from(Rtp(sequence, kSsrc));
    for (uint16_t sequence : {11, 12, 14, 15}) lost.Add(history[sequence], Verdict::kAccepted);
    lost.Add(history[13], Verdict::kAccepted)
        .Add(history[14], Verdict::kReplay)
        .Add(Flipped(history[16], 20), Verdict::kAuthentication)
        .Add(history[16], Verdict::kAccepted)
        .Add(Rtp(17, kSsrc), Verdict::kUnknownEpoch)
        .Add(from(Rtp(200, kSsrc)), Verdict::kAccepted)
        .Add(history[15], Verdict::kReplay);
    seeds.push_back(lost.Take());

    sender = std::make_unique<Sender>();
    const uint32_t next = kFirstEpoch + 1;
    seeds.push_back(SeedBuilder("epoch_switch")
                        .Add(from(Rtp(1, kSsrc)), Verdict::kAccepted)
                        .Add(from(Rtp(1, kSsrc), next), Verdict::kAccepted, true)
                        .Add(from(Rtp(2, kSsrc)), Verdict::kAccepted, false, 49)
                        .Add(from(Rtp(3, kSsrc)), Verdict::kUnknownEpoch, false, 1)
                        .Add(from(Rtcp(kSsrc), next), Verdict::kAccepted)
                        .Take());

    sender = std::make_unique<Sender>();
    SeedBuilder streams("many_streams");
    for (uint32_t ssrc = 1; ssrc <= srtp::Unprotector::kMaxStreamsPerEpoch; ++ssrc)
        streams.Add(from(Rtp(1, ssrc)), Verdict::kAccepted);
    streams.Add(from(Rtp(1, 100)), Verdict::kTooManyStreams).Add(from(Rtcp(1)), Verdict::kAccepted);
    seeds.push_back(streams.Take());
    return seeds;
}

}  // namespace unprotect_records

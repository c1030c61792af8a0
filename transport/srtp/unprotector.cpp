#include "transport/srtp/unprotector.h"

#include <srtp2/srtp.h>

namespace srtp {
namespace {
constexpr unsigned kUseMki = 1;

Verdict VerdictOf(srtp_err_status_t status) {
    switch (status) {
        case srtp_err_status_ok: return Verdict::kAccepted;
        case srtp_err_status_auth_fail: return Verdict::kAuthentication;
        case srtp_err_status_replay_fail:
        case srtp_err_status_replay_old: return Verdict::kReplay;
        case srtp_err_status_bad_mki: return Verdict::kUnknownEpoch;
        default: return Verdict::kMalformed;
    }
}
}  // namespace

std::unique_ptr<Unprotector> Unprotector::Create() {
    std::unique_ptr<Unprotector> unprotector(new Unprotector);
    return unprotector->hold_.Held() ? std::move(unprotector) : nullptr;
}

Unprotector::Epoch* Unprotector::Find(uint8_t epochByte, int64_t nowMs) {
    for (Epoch& kept : epochs_) {
        if (!kept.session || EpochByte(kept.epoch) != epochByte) continue;
        if (nowMs < kept.retireAtMs) return &kept;
        kept = Epoch{};
    }
    return nullptr;
}

Unprotector::Epoch* Unprotector::Current() {
    for (Epoch& kept : epochs_)
        if (kept.session && kept.retireAtMs == kCurrent) return &kept;
    return nullptr;
}

// A free place, else the one whose epoch byte the new epoch shares (they
// could not be told apart), else the one retiring first.
Unprotector::Epoch& Unprotector::PlaceFor(uint8_t epochByte, int64_t nowMs) {
    Epoch* place = &epochs_[0];
    for (Epoch& kept : epochs_) {
        if (kept.session && (EpochByte(kept.epoch) == epochByte || nowMs >= kept.retireAtMs)) kept = Epoch{};
        if (!kept.session) return kept;
        if (kept.retireAtMs < place->retireAtMs) place = &kept;
    }
    return *place;
}

bool Unprotector::InstallEpoch(const SenderKey& key, int64_t nowMs) {
    std::lock_guard<std::mutex> lock(mutex_);
    Epoch* current = Current();
    if (current && key.epoch <= current->epoch) return false;
    Session session = CreateSession(key, Direction::kUnprotect);
    if (!session) return false;
    if (current) current->retireAtMs = nowMs + kPreviousEpochGraceMs;
    Epoch& place = PlaceFor(EpochByte(key.epoch), nowMs);
    place = Epoch{};
    place.session = std::move(session);
    place.epoch = key.epoch;
    return true;
}

Verdict Unprotector::Open(PacketKind kind, std::span<uint8_t> datagram, int64_t nowMs, size_t* length) {
    if (!HasHeader(datagram, kind) || datagram.size() < HeaderBytes(kind) + OverheadBytes(kind) ||
        datagram.size() > kMaxDatagramBytes)
        return Verdict::kMalformed;
    Epoch* epoch = Find(datagram.back(), nowMs);
    if (!epoch) return Verdict::kUnknownEpoch;
    const uint32_t ssrc = SenderSsrc(datagram, kind);
    const bool known = epoch->ssrcs.Contains(ssrc);
    if (!known && epoch->ssrcs.Full()) return Verdict::kTooManyStreams;
    int open = static_cast<int>(datagram.size());
    const Verdict verdict =
        VerdictOf(kind == PacketKind::kRtp
                      ? srtp_unprotect_mki(epoch->session.get(), datagram.data(), &open, kUseMki)
                      : srtp_unprotect_rtcp_mki(epoch->session.get(), datagram.data(), &open, kUseMki));
    if (verdict != Verdict::kAccepted) return verdict;
    if (!known) epoch->ssrcs.Add(ssrc);
    *length = static_cast<size_t>(open);
    return verdict;
}

Unprotected Unprotector::Unprotect(PacketKind kind, std::span<uint8_t> datagram, int64_t nowMs) {
    std::lock_guard<std::mutex> lock(mutex_);
    size_t length = 0;
    const Verdict verdict = Open(kind, datagram, nowMs, &length);
    ++counts_[static_cast<size_t>(verdict)];
    dropsInARow_ = verdict == Verdict::kAccepted ? 0 : dropsInARow_ + 1;
    return {verdict, length};
}

uint64_t Unprotector::Count(Verdict verdict) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return counts_[static_cast<size_t>(verdict)];
}

uint64_t Unprotector::DropsInARow() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return dropsInARow_;
}

}  // namespace srtp

#include "transport/srtp/protector.h"

#include "transport/srtp/key_claims.h"

#include <srtp2/srtp.h>

namespace srtp {
namespace {
constexpr unsigned kUseMki = 1;
constexpr unsigned kOnlyMasterKey = 0;

ProtectStatus StatusOf(srtp_err_status_t status) {
    switch (status) {
        case srtp_err_status_ok: return ProtectStatus::kProtected;
        case srtp_err_status_replay_fail:
        case srtp_err_status_replay_old: return ProtectStatus::kIndexUsed;
        case srtp_err_status_bad_param:
        case srtp_err_status_parse_err: return ProtectStatus::kMalformed;
        default: return ProtectStatus::kFailed;
    }
}
}  // namespace

std::unique_ptr<Protector> Protector::Create(const SenderKey& key, Setup* setup) {
    Setup ignored;
    Setup& why = setup ? *setup : ignored;
    LibraryHold hold;  // keeps libsrtp up while the session is made
    Session session = hold.Held() ? CreateSession(key, Direction::kProtect) : nullptr;
    if (!session) {
        why = Setup::kLibraryFailed;
        return nullptr;
    }
    if (!ClaimKeyForProtecting(key)) {
        why = Setup::kKeyUsedBefore;
        return nullptr;
    }
    why = Setup::kReady;
    return std::unique_ptr<Protector>(new Protector(key.epoch, std::move(session)));
}

Protector::Protector(uint32_t epoch, Session session) : epoch_(epoch), session_(std::move(session)) {}

Protected Protector::Protect(PacketKind kind, std::span<uint8_t> buffer, size_t plainLength) {
    if (plainLength > buffer.size() || !HasHeader(buffer.first(plainLength), kind))
        return {ProtectStatus::kMalformed, 0};
    if (buffer.size() - plainLength < OverheadBytes(kind) || plainLength + OverheadBytes(kind) > kMaxDatagramBytes)
        return {ProtectStatus::kNoRoom, 0};
    const uint32_t ssrc = SenderSsrc(buffer, kind);

    std::lock_guard<std::mutex> lock(mutex_);
    const bool inUse = !ssrcs_.Empty() && ssrcs_.Last() == ssrc;
    if (!inUse && ssrcs_.Contains(ssrc)) return {ProtectStatus::kSsrcRetired, 0};
    if (!inUse && ssrcs_.Full()) return {ProtectStatus::kTooManySsrcs, 0};
    int length = static_cast<int>(plainLength);
    const ProtectStatus status =
        StatusOf(kind == PacketKind::kRtp
                     ? srtp_protect_mki(session_.get(), buffer.data(), &length, kUseMki, kOnlyMasterKey)
                     : srtp_protect_rtcp_mki(session_.get(), buffer.data(), &length, kUseMki, kOnlyMasterKey));
    if (status != ProtectStatus::kProtected) return {status, 0};
    if (!inUse) ssrcs_.Add(ssrc);
    return {status, static_cast<size_t>(length)};
}

}  // namespace srtp

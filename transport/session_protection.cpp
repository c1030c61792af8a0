#include "transport/session_protection.h"

#include "transport/session_relay.h"

#include <algorithm>

bool SessionProtection::SetOwnKey(const srtp::SenderKey& key, int64_t nowMs) {
    {
        const std::lock_guard<std::mutex> lock(ownMutex_);
        const std::shared_ptr<srtp::Protector>& newest = next_ ? next_ : own_;
        if (newest && key.epoch <= newest->Epoch()) return false;
    }
    std::shared_ptr<srtp::Protector> created = srtp::Protector::Create(key);
    if (!created) return false;
    const std::lock_guard<std::mutex> lock(ownMutex_);
    if (!own_) {
        own_ = std::move(created);
        return true;
    }
    next_ = std::move(created);
    nextAtMs_ = nowMs + kOwnKeySwitchMs;
    return true;
}

bool SessionProtection::InstallPeerKey(int32_t userId, const srtp::SenderKey& key, int64_t nowMs) {
    std::shared_ptr<srtp::Unprotector> unprotector = Find(userId);
    if (!unprotector) {
        unprotector = srtp::Unprotector::Create();
        if (!unprotector || !unprotector->InstallEpoch(key, nowMs)) return false;
        const std::lock_guard<std::mutex> lock(peersMutex_);
        peers_.push_back({userId, std::move(unprotector)});
        return true;
    }
    return unprotector->InstallEpoch(key, nowMs);
}

void SessionProtection::ForgetPeer(int32_t userId) {
    const std::lock_guard<std::mutex> lock(peersMutex_);
    std::erase_if(peers_, [userId](const Peer& peer) { return peer.userId == userId; });
}

std::shared_ptr<srtp::Unprotector> SessionProtection::Find(int32_t userId) const {
    const std::lock_guard<std::mutex> lock(peersMutex_);
    const auto peer =
        std::find_if(peers_.begin(), peers_.end(), [userId](const Peer& p) { return p.userId == userId; });
    return peer == peers_.end() ? nullptr : peer->unprotector;
}

size_t SessionProtection::Transform(bool rtp, std::span<uint8_t> buffer, size_t length) {
    std::shared_ptr<srtp::Protector> own;
    {
        const std::lock_guard<std::mutex> lock(ownMutex_);
        if (next_ && SessionRelay::NowMs() >= nextAtMs_) own_ = std::move(next_);
        own = own_;
    }
    const srtp::Protected result =
        own ? own->Protect(rtp ? srtp::PacketKind::kRtp : srtp::PacketKind::kRtcp, buffer, length)
            : srtp::Protected{srtp::ProtectStatus::kFailed, 0};
    return result.status == srtp::ProtectStatus::kProtected ? result.length : 0;
}

srtp::Unprotected SessionProtection::Open(int32_t userId, bool rtp, std::span<uint8_t> datagram, int64_t nowMs) {
    const std::shared_ptr<srtp::Unprotector> unprotector = Find(userId);
    if (!unprotector) return {srtp::Verdict::kUnknownEpoch, 0};
    return unprotector->Unprotect(rtp ? srtp::PacketKind::kRtp : srtp::PacketKind::kRtcp, datagram, nowMs);
}

bool SessionProtection::Figures(int32_t userId, ProtectionFigures* out) const {
    const std::shared_ptr<srtp::Unprotector> unprotector = Find(userId);
    if (!unprotector) return false;
    using srtp::Verdict;
    out->accepted = unprotector->Count(Verdict::kAccepted);
    out->authenticationFailures = unprotector->Count(Verdict::kAuthentication) +
                                  unprotector->Count(Verdict::kMalformed) +
                                  unprotector->Count(Verdict::kTooManyStreams);
    out->replays = unprotector->Count(Verdict::kReplay);
    out->unknownEpoch = unprotector->Count(Verdict::kUnknownEpoch);
    out->dropsInARow = unprotector->DropsInARow();
    return true;
}

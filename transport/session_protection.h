// One session's traffic in an encrypted room: everything the session builds
// is protected once with this engine's key for the medium and epoch (the
// session's send transform), and every datagram of a peer is opened with
// that peer's keys before the RTP layer reads it. What does not open is
// dropped and counted per peer.
//
// The engine thread installs the keys (its own and each peer's, for every
// new epoch); the sending threads protect; the poll thread opens. Each part
// has its own lock, and the srtp objects have theirs.
#pragma once

#include "transport/peer_statistics.h"
#include "transport/rtp/rtp_send_transform.h"
#include "transport/srtp/protector.h"
#include "transport/srtp/unprotector.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <span>
#include <vector>

class SessionProtection final : public rtp::RTPSendTransform {
public:
    static_assert(srtp::kRtcpOverheadBytes <= kMaximumExtraBytes);

    // Engine thread. This engine's key for a newer epoch; false, keeping the
    // key in use, when libsrtp refuses it or this process used it before.
    // The first key protects at once; a later one kOwnKeySwitchMs after it
    // came: the lobby hands every player the epoch at about the same time,
    // and a peer yet to install it would drop what it protects.
    static constexpr int64_t kOwnKeySwitchMs = 1000;
    bool SetOwnKey(const srtp::SenderKey& key, int64_t nowMs);
    // A peer's key for a newer epoch (the first makes the peer known); the
    // one before stays for srtp::Unprotector::kPreviousEpochGraceMs.
    bool InstallPeerKey(int32_t userId, const srtp::SenderKey& key, int64_t nowMs);
    void ForgetPeer(int32_t userId);

    // Sending threads.
    // Nothing goes out without a key, nor what the protector refuses (see
    // srtp::ProtectStatus): never a plain packet.
    size_t Transform(bool rtp, std::span<uint8_t> buffer, size_t length) override;

    // Poll thread: opens a datagram of the peer in place; anything but
    // accepted must be dropped.
    srtp::Unprotected Open(int32_t userId, bool rtp, std::span<uint8_t> datagram, int64_t nowMs);

    // Any thread: false for a peer without keys.
    bool Figures(int32_t userId, ProtectionFigures* out) const;

private:
    struct Peer {
        int32_t userId;
        std::shared_ptr<srtp::Unprotector> unprotector;
    };
    std::shared_ptr<srtp::Unprotector> Find(int32_t userId) const;

    mutable std::mutex ownMutex_;
    std::shared_ptr<srtp::Protector> own_;   // guarded by ownMutex_
    std::shared_ptr<srtp::Protector> next_;  // guarded by ownMutex_
    int64_t nextAtMs_ = 0;                   // guarded by ownMutex_
    mutable std::mutex peersMutex_;
    std::vector<Peer> peers_;  // guarded by peersMutex_
};

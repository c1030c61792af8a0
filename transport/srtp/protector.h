// Protects what one local sender sends on one medium in one epoch: every RTP
// packet and RTCP compound once, in place, so that the same bytes go to
// every peer (and through a relay). A resent packet is the stored protected
// bytes, never protected again.
//
// A (key, SSRC, packet index) is never used twice, so the protector refuses
// rather than risk it; the sender then needs a new SSRC or a new epoch:
// - kIndexUsed: the SSRC's sequence number was protected before, or lies
//   behind the replay window (a sequence started over, a packet protected a
//   second time);
// - kSsrcRetired: an SSRC the protector has left (after a collision) comes
//   back: draw another;
// - kTooManySsrcs: kMaxSsrcs SSRCs under one key: ask for a new epoch;
// - Create refuses a key this process protected with before (a sender
//   restarted inside the process, an engine created again): ask for a new
//   epoch. A host that starts a new process must ask for one too, since no
//   process can know what an earlier one sent.
// One lock: RTP and RTCP may come from different threads.
#pragma once

#include "transport/srtp/library_hold.h"
#include "transport/srtp/protected_packet.h"
#include "transport/srtp/sender_key.h"
#include "transport/srtp/srtp_session.h"
#include "transport/srtp/ssrc_set.h"

#include <memory>
#include <mutex>
#include <span>

namespace srtp {

enum class ProtectStatus { kProtected, kMalformed, kNoRoom, kIndexUsed, kSsrcRetired, kTooManySsrcs, kFailed };

struct Protected {
    ProtectStatus status;
    size_t length;  // of the protected packet at the buffer's start; 0 unless kProtected
};

class Protector {
public:
    static constexpr size_t kMaxSsrcs = 8;
    enum class Setup { kReady, kKeyUsedBefore, kLibraryFailed };

    // Null, saying why in `setup`, when the key was used before in this
    // process or libsrtp cannot start.
    static std::unique_ptr<Protector> Create(const SenderKey& key, Setup* setup = nullptr);

    // The packet is the first plainLength bytes of `buffer`, which has room
    // for OverheadBytes(kind) more; the caller owns the buffer throughout.
    // Nothing is allocated. Anything but kProtected leaves nothing to send.
    Protected Protect(PacketKind kind, std::span<uint8_t> buffer, size_t plainLength);

    uint32_t Epoch() const { return epoch_; }

private:
    Protector(uint32_t epoch, Session session);

    LibraryHold hold_;  // first in, last out: outlives the session
    const uint32_t epoch_;
    std::mutex mutex_;
    Session session_;           // guarded by mutex_
    SsrcSet<kMaxSsrcs> ssrcs_;  // guarded by mutex_; the last one is the SSRC in use
};

}  // namespace srtp

// Checks and opens what one remote peer sends on one medium, the peer being
// the one its source address already named. The epoch byte picks the key;
// a packet is handed on only once it authenticated under that key and is
// no replay, so nothing forged, replayed or plain reaches the RTP parser.
//
// The peer's current epoch and, for kPreviousEpochGraceMs after the next
// one came, up to two before it are kept, so a switch loses nothing sent
// just before it. Each epoch opens at most kMaxStreamsPerEpoch SSRCs, each
// with its own replay window of 128 packets; a stream exists only once a
// packet of it authenticated, so a forger cannot add any. Time comes from
// the caller (monotonic milliseconds). One lock: the keys come from one
// thread, the packets from another.
#pragma once

#include "transport/srtp/library_hold.h"
#include "transport/srtp/protected_packet.h"
#include "transport/srtp/sender_key.h"
#include "transport/srtp/srtp_session.h"
#include "transport/srtp/ssrc_set.h"

#include <array>
#include <cstdint>
#include <limits>
#include <memory>
#include <mutex>
#include <span>

namespace srtp {

enum class Verdict {
    kAccepted,
    kMalformed,       // too short for its kind, or not version 2
    kUnknownEpoch,    // no key of this peer has the packet's epoch byte (any more)
    kAuthentication,  // the tag does not match: another key, a changed bit, plain RTP
    kReplay,          // seen before, or behind the replay window
    kTooManyStreams,  // a new SSRC where the epoch has kMaxStreamsPerEpoch already
};
constexpr size_t kVerdicts = 6;

struct Unprotected {
    Verdict verdict;
    size_t length;  // of the plain packet at the datagram's start; 0 unless accepted
    bool Accepted() const { return verdict == Verdict::kAccepted; }
};

class Unprotector {
public:
    static constexpr int64_t kPreviousEpochGraceMs = 5000;
    static constexpr size_t kEpochsKept = 3;
    static constexpr size_t kMaxStreamsPerEpoch = 8;

    // Null when libsrtp cannot start.
    static std::unique_ptr<Unprotector> Create();

    // The peer's key for an epoch newer than every one installed before; the
    // current one from then on retires kPreviousEpochGraceMs after nowMs.
    // False, changing nothing, for an epoch not newer or when libsrtp
    // refuses the key.
    bool InstallEpoch(const SenderKey& key, int64_t nowMs);

    // Opens the datagram in place (the caller's buffer throughout; nothing
    // allocated but libsrtp's state for a new stream). Whatever is not
    // accepted must be dropped: its bytes are undefined.
    Unprotected Unprotect(PacketKind kind, std::span<uint8_t> datagram, int64_t nowMs);

    // Datagrams seen per verdict, and the drops since the last accepted one
    // (a peer whose packets keep failing: usually a lobby out of step).
    uint64_t Count(Verdict verdict) const;
    uint64_t DropsInARow() const;

private:
    static constexpr int64_t kCurrent = std::numeric_limits<int64_t>::max();
    struct Epoch {
        Session session;  // null: a free place
        uint32_t epoch = 0;
        int64_t retireAtMs = kCurrent;
        SsrcSet<kMaxStreamsPerEpoch> ssrcs;  // those that authenticated
    };
    Unprotector() = default;
    Epoch* Find(uint8_t epochByte, int64_t nowMs);
    Epoch* Current();
    Epoch& PlaceFor(uint8_t epochByte, int64_t nowMs);
    Verdict Open(PacketKind kind, std::span<uint8_t> datagram, int64_t nowMs, size_t* length);

    LibraryHold hold_;  // first in, last out: outlives the sessions
    mutable std::mutex mutex_;
    std::array<Epoch, kEpochsKept> epochs_;     // guarded by mutex_
    std::array<uint64_t, kVerdicts> counts_{};  // guarded by mutex_
    uint64_t dropsInARow_ = 0;                  // guarded by mutex_
};

}  // namespace srtp

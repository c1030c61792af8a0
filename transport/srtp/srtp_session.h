// One libsrtp session per sender's key: AEAD_AES_128_GCM with a 16-byte tag
// for RTP and RTCP, the key's epoch as a one-byte MKI, a replay window of
// 128 packets per stream. Streams appear per SSRC as packets come (libsrtp's
// "any SSRC" templates), each with its own packet index and replay window.
// A session is not locked: its owner serialises the calls.
#pragma once

#include "transport/srtp/sender_key.h"

#include <memory>

struct srtp_ctx_t_;

namespace srtp {

constexpr unsigned long kReplayWindowPackets = 128;

struct SessionDeleter {
    void operator()(srtp_ctx_t_* session) const;
};
using Session = std::unique_ptr<srtp_ctx_t_, SessionDeleter>;

enum class Direction { kProtect, kUnprotect };

// Null when libsrtp refuses. The caller holds a LibraryHold for the
// session's life.
Session CreateSession(const SenderKey& key, Direction direction);

}  // namespace srtp

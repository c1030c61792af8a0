// Helpers of the protection tests: keys no other test used, and datagram
// buffers with room for protection.
#pragma once

#include "transport/srtp/protected_packet.h"
#include "transport/srtp/protector.h"
#include "transport/srtp/sender_key.h"

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

namespace srtp_test {

// A room secret no other call returned in this process, so that no test
// finds its keys claimed by another.
std::vector<uint8_t> FreshSecret();

// The key of `user`'s `medium` in `epoch` of the room with `secret`.
srtp::SenderKey KeyFor(const std::vector<uint8_t>& secret, uint32_t epoch, int32_t user = 1,
                       srtp::KeyMedium medium = srtp::KeyMedium::kVideo);

// A protector for the key; a test failure when there is none.
std::unique_ptr<srtp::Protector> ProtectorFor(const srtp::SenderKey& key);

// A packet's bytes at the start of a buffer with room for protection.
struct Datagram {
    srtp::PacketKind kind = srtp::PacketKind::kRtp;
    std::vector<uint8_t> buffer;
    size_t length = 0;

    std::span<uint8_t> Bytes() { return {buffer.data(), length}; }
    std::vector<uint8_t> Copy() const { return {buffer.begin(), buffer.begin() + static_cast<ptrdiff_t>(length)}; }
};

// Payload type 96, the payload counting up from the sequence number.
Datagram Rtp(uint16_t sequence, uint32_t ssrc, size_t payloadBytes = 40);
// A receiver report with one report block.
Datagram Rtcp(uint32_t ssrc);

// Protects the datagram in place; a test failure when refused.
Datagram& Protect(srtp::Protector& protector, Datagram& datagram);

}  // namespace srtp_test

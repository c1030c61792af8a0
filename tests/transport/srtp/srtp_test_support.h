// Helpers of the protection tests: hex text, keys no other test used, and
// datagram buffers with room for protection.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "transport/srtp/protected_packet.h"
#include "transport/srtp/protector.h"
#include "transport/srtp/sender_key.h"

namespace srtp_test {

std::vector<uint8_t> FromHex(std::string_view hex);

// A room secret no other call returned in this process, so that the keys of
// a test are claimed by none before it.
std::vector<uint8_t> FreshSecret();

// The key of `user`'s `medium` in `epoch` of the room with `secret`.
srtp::SenderKey KeyFor(const std::vector<uint8_t>& secret, uint32_t epoch, int32_t user = 1,
                       srtp::KeyMedium medium = srtp::KeyMedium::kVideo);

// A packet's bytes at the start of a buffer with room for protection.
struct Datagram {
    srtp::PacketKind kind = srtp::PacketKind::kRtp;
    std::vector<uint8_t> buffer;
    size_t length = 0;

    std::span<uint8_t> Bytes() { return {buffer.data(), length}; }
    std::vector<uint8_t> Copy() const { return {buffer.begin(), buffer.begin() + static_cast<ptrdiff_t>(length)}; }
};

// Version 2, payload type 96, the payload bytes counting up from the
// sequence number's low byte.
Datagram Rtp(uint16_t sequence, uint32_t ssrc, size_t payloadBytes = 40);
// A receiver report with one report block.
Datagram Rtcp(uint32_t ssrc);

// Protects the datagram in place; a test failure when refused.
Datagram& Protect(srtp::Protector& protector, Datagram& datagram);

}  // namespace srtp_test

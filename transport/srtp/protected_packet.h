// What protection does to a datagram, in one place. Both kinds keep their
// header in the clear, encrypt the rest and append a 16-byte GCM tag
// (AEAD_AES_128_GCM, RFC 7714) and one byte naming the sender's epoch (the
// MKI); SRTCP puts its index between the two. The header and, for RTCP, the
// index are authenticated too; the epoch byte is not, but picks the key that
// must then authenticate the rest.
//
// RTP (+17 bytes):
//    0                   1                   2                   3
//    0 1 2 3 4 5 6 7 8 9 0 1 2 3 4 5 6 7 8 9 0 1 2 3 4 5 6 7 8 9 0 1
//   +-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+
//   |V=2|P|X|  CC   |M|     PT      |        sequence number        |
//   |                           timestamp                           |
//   |                             SSRC                              |
//   |             CSRCs and header extension, if any                |
//   +-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+
//   |                   payload (encrypted) ...                     |
//   +-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+
//   |                  tag (16 bytes) ...                           |
//   +-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+
//   |     epoch     |
//   +-+-+-+-+-+-+-+-+
//
// RTCP (+21 bytes): the compound's first 8 bytes (header and sender SSRC)
// in the clear, the rest encrypted, the tag, then
//   +-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+
//   |E|                   SRTCP index (31 bits)                     |
//   +-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+
//   |     epoch     |
//   +-+-+-+-+-+-+-+-+
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace srtp {

enum class PacketKind { kRtp, kRtcp };

constexpr size_t kTagBytes = 16;
constexpr size_t kEpochBytes = 1;
constexpr size_t kSrtcpIndexBytes = 4;
constexpr size_t kRtpOverheadBytes = kTagBytes + kEpochBytes;
constexpr size_t kRtcpOverheadBytes = kTagBytes + kSrtcpIndexBytes + kEpochBytes;
constexpr size_t kRtpHeaderBytes = 12;
constexpr size_t kRtcpHeaderBytes = 8;  // with the sender's SSRC
// The largest datagram either side handles, protected or not.
constexpr size_t kMaxDatagramBytes = 65535;

constexpr size_t OverheadBytes(PacketKind kind) {
    return kind == PacketKind::kRtp ? kRtpOverheadBytes : kRtcpOverheadBytes;
}
constexpr size_t HeaderBytes(PacketKind kind) { return kind == PacketKind::kRtp ? kRtpHeaderBytes : kRtcpHeaderBytes; }

// The MKI byte of an epoch: epochs kept at the same time must differ in it.
constexpr uint8_t EpochByte(uint32_t epoch) { return static_cast<uint8_t>(epoch); }

// True when `packet` is at least a header long and says version 2.
bool HasHeader(std::span<const uint8_t> packet, PacketKind kind);

// The sender's SSRC: RTP bytes 8..11, RTCP 4..7. Needs HasHeader.
uint32_t SenderSsrc(std::span<const uint8_t> packet, PacketKind kind);

}  // namespace srtp

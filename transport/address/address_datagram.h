// The public-address exchange between an RTP session and the address server:
// a bare UDP datagram (not RTP), sent from and to the session's RTP socket.
//
// Layout before scrambling, multi-byte fields least significant byte first:
//   0  4  checksum: unsigned 32-bit sum of all bytes from offset 4 to the end
//   4  1  type
//   5  2  payload length L (signed 16-bit on receipt)
//   7  L  payload
// Every byte on the wire, checksum included, goes through a fixed substitution
// table shared by the engine and the server; the receiver applies its inverse.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace address_exchange {

constexpr uint8_t kTypePublicAddress = 1;
constexpr size_t kChecksumBytes = 4;
constexpr size_t kHeaderBytes = 7;
// The receiver reads L as signed 16-bit, so longer payloads cannot travel.
constexpr size_t kMaxPayloadBytes = 32767;
// The engine asks with the 32-bit value 1; the server answers with the
// requester's address (4 bytes) and port (2 bytes).
constexpr size_t kRequestPayloadBytes = 4;
constexpr size_t kReplyPayloadBytes = 6;

void Scramble(uint8_t* data, size_t length);
void Unscramble(uint8_t* data, size_t length);

// Builds and scrambles a datagram. False (and `out` untouched) when the
// payload is longer than kMaxPayloadBytes.
bool BuildDatagram(uint8_t type, const uint8_t* payload, size_t payloadLength, std::vector<uint8_t>* out);

struct Datagram {
    uint8_t type;
    const uint8_t* payload;  // points into the unscrambled buffer
    size_t payloadLength;
};

// Unscrambles `data` in place and checks it: at least 4 bytes, checksum equal
// to the sum of bytes 4..end, at least 7 bytes, L not negative and not beyond
// the datagram. Bytes after the payload are tolerated.
bool ParseDatagram(uint8_t* data, size_t length, Datagram* out);

// Address in host order (a.b.c.d is (a<<24)|(b<<16)|(c<<8)|d), port in host order.
struct PublicAddress {
    uint32_t address;
    uint16_t port;
};

// A request the server answers: type 1 with the 4-byte request payload. The
// 6-byte replies are thereby never taken for requests, so two servers cannot
// keep answering each other.
bool IsAddressRequest(const Datagram& datagram);

std::vector<uint8_t> BuildAddressReply(PublicAddress answer);
// Unscrambles in place; true for a valid datagram of type 1 with at least 6
// payload bytes (further bytes are ignored).
bool ParseAddressReply(uint8_t* data, size_t length, PublicAddress* out);

}  // namespace address_exchange

#include "transport/address/address_datagram.h"

#include <array>
#include <utility>

namespace address_exchange {
namespace {

// The substitution shared with every address server. Any permutation of
// 0..255 works as long as both ends agree; this one must never change.
constexpr std::array<uint8_t, 256> kScramble = {
    0xE4, 0x3C, 0x73, 0x70, 0x14, 0x32, 0x6B, 0x51, 0x6F, 0xC5, 0xD0, 0x2E, 0xF7, 0x2C, 0xCE, 0x79, 0x5E, 0x36, 0x90,
    0x82, 0x21, 0x94, 0xE5, 0x39, 0xB7, 0x98, 0x56, 0xA9, 0x6D, 0x80, 0x58, 0x10, 0x28, 0x01, 0x59, 0x9B, 0x42, 0x57,
    0xBB, 0x7D, 0x72, 0x00, 0x2B, 0x38, 0x05, 0x52, 0x0B, 0x2D, 0x54, 0x31, 0x17, 0xFF, 0xF0, 0x92, 0x22, 0xDC, 0x0F,
    0x8D, 0xAF, 0x87, 0xFB, 0x50, 0x30, 0xAA, 0x19, 0x04, 0xD7, 0xBC, 0x7F, 0xD8, 0x8B, 0x9E, 0xD6, 0x5A, 0x37, 0xB5,
    0x66, 0x0A, 0x53, 0x8A, 0xF8, 0x27, 0xA5, 0x48, 0x85, 0xED, 0xE8, 0x95, 0xD4, 0x34, 0x0E, 0xA3, 0xB1, 0x64, 0x35,
    0xCF, 0xAB, 0x16, 0x43, 0x4A, 0x07, 0xA7, 0x55, 0x5D, 0x77, 0xEE, 0xEB, 0x4B, 0x8C, 0x03, 0x99, 0xC9, 0x6E, 0x11,
    0x9F, 0x0C, 0x2A, 0x69, 0x8F, 0xFC, 0x9D, 0x9A, 0xF2, 0xEC, 0xA4, 0x1E, 0xA6, 0xB4, 0x08, 0x76, 0x23, 0x88, 0xDB,
    0xF3, 0x71, 0xC7, 0xAC, 0x3E, 0x67, 0xB6, 0x41, 0xBD, 0x7B, 0x65, 0x1D, 0x20, 0x1A, 0x3D, 0xB3, 0xE2, 0x44, 0xDF,
    0x33, 0x83, 0xD2, 0xA8, 0x7C, 0x47, 0xB0, 0xEA, 0x1F, 0x0D, 0xC1, 0x25, 0xAD, 0x61, 0x3B, 0x5C, 0x6C, 0x7A, 0x4F,
    0xD1, 0xB8, 0x15, 0x2F, 0xDA, 0xDD, 0xFE, 0x4E, 0xAE, 0x60, 0xA0, 0xC8, 0x09, 0xF5, 0x5F, 0xF9, 0x49, 0x26, 0x93,
    0x1C, 0xBA, 0x68, 0x3F, 0xA1, 0xCC, 0xD9, 0x96, 0xDE, 0xFD, 0xC2, 0x4C, 0xF1, 0x63, 0xFA, 0x89, 0xC3, 0x06, 0x12,
    0xCB, 0xEF, 0x24, 0x18, 0x45, 0xBE, 0x78, 0x6A, 0xC6, 0xE6, 0xF6, 0x46, 0x86, 0xB2, 0xE7, 0x4D, 0x3A, 0x81, 0xD3,
    0xE0, 0x97, 0x74, 0x02, 0x62, 0x9C, 0x1B, 0x8E, 0x13, 0x40, 0x7E, 0x29, 0x84, 0xE9, 0xA2, 0xE3, 0xCA, 0xC4, 0xE1,
    0xB9, 0xF4, 0x75, 0xBF, 0xD5, 0xCD, 0x5B, 0xC0, 0x91,
};

constexpr std::array<uint8_t, 256> InvertTable(const std::array<uint8_t, 256>& table) {
    std::array<uint8_t, 256> inverse{};
    for (size_t i = 0; i < table.size(); ++i) inverse[table[i]] = static_cast<uint8_t>(i);
    return inverse;
}

constexpr std::array<uint8_t, 256> kUnscramble = InvertTable(kScramble);

constexpr bool IsPermutation(const std::array<uint8_t, 256>& table, const std::array<uint8_t, 256>& inverse) {
    for (size_t i = 0; i < table.size(); ++i) {
        if (inverse[table[i]] != i) return false;
    }
    return true;
}
static_assert(IsPermutation(kScramble, kUnscramble), "the substitution table must be a permutation of 0..255");

uint32_t SumOfBytes(const uint8_t* data, size_t length) {
    uint32_t sum = 0;
    for (size_t i = 0; i < length; ++i) sum += data[i];
    return sum;
}

uint32_t ReadLe32(const uint8_t* p) {
    return uint32_t{p[0]} | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24);
}

void WriteLe32(uint8_t* p, uint32_t value) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(value >> (8 * i));
}

}  // namespace

void Scramble(uint8_t* data, size_t length) {
    for (size_t i = 0; i < length; ++i) data[i] = kScramble[data[i]];
}

void Unscramble(uint8_t* data, size_t length) {
    for (size_t i = 0; i < length; ++i) data[i] = kUnscramble[data[i]];
}

bool BuildDatagram(uint8_t type, const uint8_t* payload, size_t payloadLength, std::vector<uint8_t>* out) {
    if (payloadLength > kMaxPayloadBytes) return false;
    std::vector<uint8_t> datagram(kHeaderBytes + payloadLength);
    datagram[4] = type;
    datagram[5] = static_cast<uint8_t>(payloadLength);
    datagram[6] = static_cast<uint8_t>(payloadLength >> 8);
    for (size_t i = 0; i < payloadLength; ++i) datagram[kHeaderBytes + i] = payload[i];
    WriteLe32(datagram.data(), SumOfBytes(datagram.data() + kChecksumBytes, datagram.size() - kChecksumBytes));
    Scramble(datagram.data(), datagram.size());
    *out = std::move(datagram);
    return true;
}

bool ParseDatagram(uint8_t* data, size_t length, Datagram* out) {
    Unscramble(data, length);
    if (length < kChecksumBytes) return false;
    if (ReadLe32(data) != SumOfBytes(data + kChecksumBytes, length - kChecksumBytes)) return false;
    if (length < kHeaderBytes) return false;
    const auto declared = static_cast<int16_t>(uint16_t{data[5]} | (uint16_t{data[6]} << 8));
    if (declared < 0 || static_cast<size_t>(declared) > length - kHeaderBytes) return false;
    out->type = data[4];
    out->payload = data + kHeaderBytes;
    out->payloadLength = static_cast<size_t>(declared);
    return true;
}

bool IsAddressRequest(const Datagram& datagram) {
    return datagram.type == kTypePublicAddress && datagram.payloadLength == kRequestPayloadBytes;
}

std::vector<uint8_t> BuildAddressReply(PublicAddress answer) {
    uint8_t payload[kReplyPayloadBytes];
    WriteLe32(payload, answer.address);
    payload[4] = static_cast<uint8_t>(answer.port);
    payload[5] = static_cast<uint8_t>(answer.port >> 8);
    std::vector<uint8_t> datagram;
    BuildDatagram(kTypePublicAddress, payload, sizeof payload, &datagram);
    return datagram;
}

bool ParseAddressReply(uint8_t* data, size_t length, PublicAddress* out) {
    Datagram datagram;
    if (!ParseDatagram(data, length, &datagram)) return false;
    if (datagram.type != kTypePublicAddress || datagram.payloadLength < kReplyPayloadBytes) return false;
    out->address = ReadLe32(datagram.payload);
    out->port = static_cast<uint16_t>(datagram.payload[4] | (datagram.payload[5] << 8));
    return true;
}

}  // namespace address_exchange

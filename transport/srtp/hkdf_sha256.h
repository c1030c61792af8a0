// HKDF (RFC 5869) with HMAC-SHA256, both steps through nettle.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace srtp {

constexpr size_t kHkdfSha256Bytes = 32;
// Expand's longest output: 255 blocks of the hash.
constexpr size_t kHkdfSha256MaxOutputBytes = 255 * kHkdfSha256Bytes;

using PseudoRandomKey = std::array<uint8_t, kHkdfSha256Bytes>;

// An empty salt stands for the hash length of zero bytes, as the RFC says.
PseudoRandomKey HkdfSha256Extract(std::span<const uint8_t> salt, std::span<const uint8_t> inputKeyMaterial);

// Fills `out`; false, writing nothing, when it is longer than
// kHkdfSha256MaxOutputBytes.
bool HkdfSha256Expand(const PseudoRandomKey& key, std::span<const uint8_t> info, std::span<uint8_t> out);

}  // namespace srtp

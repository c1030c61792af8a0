// The keys and digests of STUN's MESSAGE-INTEGRITY, computed by nettle.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace relay {

constexpr size_t kLongTermKeyBytes = 16;
constexpr size_t kSha1Bytes = 20;
using LongTermKey = std::array<uint8_t, kLongTermKeyBytes>;
using Sha1Digest = std::array<uint8_t, kSha1Bytes>;

// MD5(username ":" realm ":" password). The strings are used as given: the
// credentials the lobby hands out are plain ASCII, which SASLprep leaves
// unchanged.
LongTermKey MakeLongTermKey(std::string_view username, std::string_view realm, std::string_view password);

// HMAC-SHA1 under `key` of `first` followed by `second`.
Sha1Digest HmacSha1(std::span<const uint8_t> key, std::span<const uint8_t> first, std::span<const uint8_t> second);

// Compares in a time that does not depend on where the digests differ.
bool DigestsEqual(std::span<const uint8_t> a, std::span<const uint8_t> b);

}  // namespace relay

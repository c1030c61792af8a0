// Helpers of the protection tests: hex text, room secrets and keys.
#pragma once

#include "transport/srtp/sender_key.h"

#include <cstdint>
#include <string_view>
#include <vector>

namespace srtp_test {

std::vector<uint8_t> FromHex(std::string_view hex);

// The key of `user`'s `medium` in `epoch` of a room whose secret is
// `secretSeed` repeated: a fresh seed gives keys no other test used.
srtp::SenderKey KeyFor(uint8_t secretSeed, uint32_t epoch, int32_t user = 1,
                       srtp::KeyMedium medium = srtp::KeyMedium::kVideo);

}  // namespace srtp_test

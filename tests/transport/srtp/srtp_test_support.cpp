#include "tests/transport/srtp/srtp_test_support.h"

#include <array>
#include <string>

namespace srtp_test {

std::vector<uint8_t> FromHex(std::string_view hex) {
    std::vector<uint8_t> bytes;
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        bytes.push_back(static_cast<uint8_t>(std::stoi(std::string(hex.substr(i, 2)), nullptr, 16)));
    return bytes;
}

srtp::SenderKey KeyFor(uint8_t secretSeed, uint32_t epoch, int32_t user, srtp::KeyMedium medium) {
    std::array<uint8_t, 32> secret;
    secret.fill(secretSeed);
    const uint8_t roomId[] = {'r', 'o', 'o', 'm'};
    return *srtp::DeriveSenderKey({secret, roomId, epoch}, user, medium);
}

}  // namespace srtp_test

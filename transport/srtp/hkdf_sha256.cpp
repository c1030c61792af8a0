#include "transport/srtp/hkdf_sha256.h"

#include <nettle/hkdf.h>
#include <nettle/hmac.h>
#include <nettle/nettle-meta.h>

namespace srtp {
static_assert(kHkdfSha256Bytes == SHA256_DIGEST_SIZE);

// nettle_hmac_sha256 gives HMAC-SHA256's update and digest typed as HKDF
// calls them; its set_key takes fixed-size keys only, so the key is set
// with the length-taking call.
PseudoRandomKey HkdfSha256Extract(std::span<const uint8_t> salt, std::span<const uint8_t> inputKeyMaterial) {
    hmac_sha256_ctx mac;
    hmac_sha256_set_key(&mac, salt.size(), salt.data());
    PseudoRandomKey key;
    hkdf_extract(&mac, nettle_hmac_sha256.update, nettle_hmac_sha256.digest, SHA256_DIGEST_SIZE,
                 inputKeyMaterial.size(), inputKeyMaterial.data(), key.data());
    return key;
}

bool HkdfSha256Expand(const PseudoRandomKey& key, std::span<const uint8_t> info, std::span<uint8_t> out) {
    if (out.size() > kHkdfSha256MaxOutputBytes) return false;
    hmac_sha256_ctx mac;
    hmac_sha256_set_key(&mac, key.size(), key.data());
    hkdf_expand(&mac, nettle_hmac_sha256.update, nettle_hmac_sha256.digest, SHA256_DIGEST_SIZE, info.size(),
                info.data(), out.size(), out.data());
    return true;
}

}  // namespace srtp

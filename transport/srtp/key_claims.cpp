#include "transport/srtp/key_claims.h"

#include <nettle/sha2.h>

#include <array>
#include <mutex>
#include <set>

namespace srtp {

bool ClaimKeyForProtecting(const SenderKey& key) {
    std::array<uint8_t, SHA256_DIGEST_SIZE> fingerprint;
    sha256_ctx hash;
    sha256_init(&hash);
    sha256_update(&hash, key.masterKey.size(), key.masterKey.data());
    sha256_update(&hash, key.masterSalt.size(), key.masterSalt.data());
    sha256_digest(&hash, fingerprint.size(), fingerprint.data());

    static std::mutex mutex;
    static std::set<std::array<uint8_t, SHA256_DIGEST_SIZE>> claimed;  // guarded by mutex
    std::lock_guard<std::mutex> lock(mutex);
    return claimed.insert(fingerprint).second;
}

}  // namespace srtp

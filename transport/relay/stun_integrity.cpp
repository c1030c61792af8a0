#include "transport/relay/stun_integrity.h"

#include <nettle/hmac.h>
#include <nettle/md5.h>
#include <nettle/memops.h>

namespace relay {

LongTermKey MakeLongTermKey(std::string_view username, std::string_view realm, std::string_view password) {
    static_assert(kLongTermKeyBytes == MD5_DIGEST_SIZE);
    md5_ctx context;
    md5_init(&context);
    const auto feed = [&context](std::string_view text) {
        md5_update(&context, text.size(), reinterpret_cast<const uint8_t*>(text.data()));
    };
    feed(username);
    feed(":");
    feed(realm);
    feed(":");
    feed(password);
    LongTermKey key;
    md5_digest(&context, key.size(), key.data());
    return key;
}

Sha1Digest HmacSha1(std::span<const uint8_t> key, std::span<const uint8_t> first, std::span<const uint8_t> second) {
    static_assert(kSha1Bytes == SHA1_DIGEST_SIZE);
    hmac_sha1_ctx context;
    hmac_sha1_set_key(&context, key.size(), key.data());
    hmac_sha1_update(&context, first.size(), first.data());
    hmac_sha1_update(&context, second.size(), second.data());
    Sha1Digest digest;
    hmac_sha1_digest(&context, digest.size(), digest.data());
    return digest;
}

bool DigestsEqual(std::span<const uint8_t> a, std::span<const uint8_t> b) {
    return a.size() == b.size() && memeql_sec(a.data(), b.data(), a.size()) != 0;
}

}  // namespace relay

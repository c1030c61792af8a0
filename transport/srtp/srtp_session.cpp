#include "transport/srtp/srtp_session.h"

#include "transport/srtp/protected_packet.h"

#include <srtp2/srtp.h>
#include <string.h>

#include <algorithm>
#include <array>

namespace srtp {

void SessionDeleter::operator()(srtp_ctx_t_* session) const { srtp_dealloc(session); }

Session CreateSession(const SenderKey& key, Direction direction) {
    static_assert(kMasterKeyBytes + kMasterSaltBytes == SRTP_AES_GCM_128_KEY_LEN_WSALT);
    static_assert(kTagBytes == SRTP_MAX_TAG_LEN && kEpochBytes == 1);
    std::array<uint8_t, SRTP_AES_GCM_128_KEY_LEN_WSALT> keyAndSalt;
    std::copy(key.masterKey.begin(), key.masterKey.end(), keyAndSalt.begin());
    std::copy(key.masterSalt.begin(), key.masterSalt.end(), keyAndSalt.begin() + kMasterKeyBytes);
    uint8_t epochByte = EpochByte(key.epoch);
    srtp_master_key_t masterKey = {keyAndSalt.data(), &epochByte, kEpochBytes};
    srtp_master_key_t* masterKeys[] = {&masterKey};

    srtp_policy_t policy{};
    srtp_crypto_policy_set_aes_gcm_128_16_auth(&policy.rtp);
    srtp_crypto_policy_set_aes_gcm_128_16_auth(&policy.rtcp);
    policy.ssrc.type = direction == Direction::kProtect ? ssrc_any_outbound : ssrc_any_inbound;
    policy.keys = masterKeys;
    policy.num_master_keys = 1;
    policy.window_size = kReplayWindowPackets;
    // A resent packet is the stored protected bytes, never protected again.
    policy.allow_repeat_tx = 0;

    srtp_ctx_t_* session = nullptr;
    const srtp_err_status_t status = srtp_create(&session, &policy);
    explicit_bzero(keyAndSalt.data(), keyAndSalt.size());  // libsrtp keeps its own copy
    return Session(status == srtp_err_status_ok ? session : nullptr);
}

}  // namespace srtp

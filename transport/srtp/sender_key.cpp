#include "transport/srtp/sender_key.h"

#include "transport/srtp/hkdf_sha256.h"

#include <algorithm>

namespace srtp {
namespace {
constexpr char kLabel[] = "tavolin srtp sender key 1";
constexpr size_t kLabelBytes = sizeof kLabel - 1;
constexpr size_t kMaxInfoBytes = kLabelBytes + 1 + kMaxRoomIdBytes + 4 + 4 + 1;

uint8_t* PutBigEndian32(uint8_t* at, uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8) *at++ = static_cast<uint8_t>(value >> shift);
    return at;
}
}  // namespace

std::optional<SenderKey> DeriveSenderKey(const RoomEpoch& room, int32_t senderUserId, KeyMedium medium) {
    if (room.secret.size() < kMinRoomSecretBytes || room.roomId.size() > kMaxRoomIdBytes) return std::nullopt;
    std::array<uint8_t, kMaxInfoBytes> info;
    uint8_t* at = std::copy_n(kLabel, kLabelBytes, info.data());
    *at++ = static_cast<uint8_t>(room.roomId.size());
    at = std::copy(room.roomId.begin(), room.roomId.end(), at);
    at = PutBigEndian32(at, room.epoch);
    at = PutBigEndian32(at, static_cast<uint32_t>(senderUserId));
    *at++ = static_cast<uint8_t>(medium);

    std::array<uint8_t, kMasterKeyBytes + kMasterSaltBytes> material;
    HkdfSha256Expand(HkdfSha256Extract({}, room.secret), std::span(info.data(), at), material);
    SenderKey key;
    key.epoch = room.epoch;
    std::copy_n(material.begin(), kMasterKeyBytes, key.masterKey.begin());
    std::copy_n(material.begin() + kMasterKeyBytes, kMasterSaltBytes, key.masterSalt.begin());
    return key;
}

}  // namespace srtp

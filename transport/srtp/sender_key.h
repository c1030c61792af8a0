// A sender's master key and salt for one medium in one epoch of a room,
// derived from the room secret the lobby gave for that epoch, so that no two
// senders, media or epochs ever share a key, whatever SSRCs they draw.
//
// HKDF-SHA256 (RFC 5869): PRK = Extract(salt = empty, IKM = room secret);
// OKM = Expand(PRK, info, 28 bytes); master key = OKM[0..16), master salt =
// OKM[16..28). The info, every number big-endian:
//
//   +---------------------------------+
//   | "tavolin srtp sender key 1"     |  25 bytes of ASCII, no terminator
//   +--------+------------------------+
//   | length |  room id (0..255 bytes)|
//   +--------+------------------------+
//   | epoch (4 bytes)                 |
//   +---------------------------------+
//   | sender user id (4 bytes, two's  |
//   | complement)                     |
//   +--------+------------------------+
//   | medium |  0 voice, 1 video
//   +--------+
//
// Every player of a room derives the same keys, so a changed byte here
// leaves peers of older builds unable to read one another.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace srtp {

// The byte each medium gives the derivation.
enum class KeyMedium : uint8_t { kVoice = 0, kVideo = 1 };

constexpr size_t kMasterKeyBytes = 16;   // AES-128
constexpr size_t kMasterSaltBytes = 12;  // the GCM salt
constexpr size_t kMinRoomSecretBytes = 16;
constexpr size_t kMaxRoomIdBytes = 255;

// What the lobby hands every player of the room for one epoch.
struct RoomEpoch {
    std::span<const uint8_t> secret;
    std::span<const uint8_t> roomId;
    uint32_t epoch = 0;
};

struct SenderKey {
    uint32_t epoch = 0;
    std::array<uint8_t, kMasterKeyBytes> masterKey{};
    std::array<uint8_t, kMasterSaltBytes> masterSalt{};

    bool operator==(const SenderKey&) const = default;
};

// Nothing when the secret is shorter than kMinRoomSecretBytes or the room id
// longer than kMaxRoomIdBytes.
std::optional<SenderKey> DeriveSenderKey(const RoomEpoch& room, int32_t senderUserId, KeyMedium medium);

}  // namespace srtp

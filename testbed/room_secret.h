// The keys of an encrypted room as a lobby hands them to every player for
// one epoch: a room id, a random secret, the epoch's number; and what a
// player calls on its engine with them.
#pragma once

#include <tavolin/tavolin.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace room {

struct RoomSecret {
    std::string roomId;
    std::vector<uint8_t> secret;
    uint32_t epoch = 1;
};

constexpr size_t kRoomSecretBytes = 32;
// The engine takes no shorter secret.
constexpr size_t kMinRoomSecretBytes = 16;

// A fresh secret from the system's random source.
RoomSecret NewRoomSecret(const std::string& roomId, uint32_t epoch);
std::string ToHex(const std::vector<uint8_t>& bytes);
// Nothing for an odd length or a character that is no hex digit.
std::optional<std::vector<uint8_t>> FromHex(const std::string& text);

// Before Create: an encrypted room with these keys. False when the engine
// has no such interface or refuses.
bool EncryptRoom(ITavolinEngine& engine, const RoomSecret& keys);
// After Create: the keys of a newer epoch.
bool ChangeEpoch(ITavolinEngine& engine, const RoomSecret& keys);

}  // namespace room

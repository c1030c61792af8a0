#include "testbed/room_secret.h"

#include <random>

namespace room {
namespace {
int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool WithProtection(ITavolinEngine& engine, bool beforeCreate, const RoomSecret& keys) {
    ITavolinRoomProtection* protection = nullptr;
    if (FAILED(engine.QueryInterface(IID_ITavolinRoomProtection, reinterpret_cast<void**>(&protection))) || !protection)
        return false;
    const bool taken = (!beforeCreate || protection->SetRoomMode(TAVOLIN_ROOM_ENCRYPTED) == 1) &&
                       protection->SetRoomKeys(reinterpret_cast<const uint8_t*>(keys.roomId.data()),
                                               static_cast<int>(keys.roomId.size()), keys.epoch, keys.secret.data(),
                                               static_cast<int>(keys.secret.size())) == 1;
    protection->Release();
    return taken;
}
}  // namespace

RoomSecret NewRoomSecret(const std::string& roomId, uint32_t epoch) {
    std::random_device random;  // the system's source, not a seeded generator
    RoomSecret keys{roomId, std::vector<uint8_t>(kRoomSecretBytes), epoch};
    for (uint8_t& byte : keys.secret) byte = static_cast<uint8_t>(random());
    return keys;
}

std::string ToHex(const std::vector<uint8_t>& bytes) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string text;
    for (const uint8_t byte : bytes) {
        text += kDigits[byte >> 4];
        text += kDigits[byte & 0xF];
    }
    return text;
}

std::optional<std::vector<uint8_t>> FromHex(const std::string& text) {
    if (text.size() % 2 != 0) return std::nullopt;
    std::vector<uint8_t> bytes;
    for (size_t i = 0; i < text.size(); i += 2) {
        const int high = HexDigit(text[i]);
        const int low = HexDigit(text[i + 1]);
        if (high < 0 || low < 0) return std::nullopt;
        bytes.push_back(static_cast<uint8_t>(high << 4 | low));
    }
    return bytes;
}

bool EncryptRoom(ITavolinEngine& engine, const RoomSecret& keys) { return WithProtection(engine, true, keys); }

bool ChangeEpoch(ITavolinEngine& engine, const RoomSecret& keys) { return WithProtection(engine, false, keys); }

}  // namespace room

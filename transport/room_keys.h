// What the lobby hands every player of an encrypted room for one epoch,
// kept by the transmission so that each new peer's keys can be derived.
#pragma once

#include "transport/medium.h"
#include "transport/srtp/sender_key.h"

#include <cstdint>
#include <optional>
#include <vector>

struct RoomKeys {
    std::vector<uint8_t> secret;
    std::vector<uint8_t> roomId;
    uint32_t epoch = 0;

    // The key `userId` sends the medium with in this epoch; nothing for a
    // secret too short or a room id too long.
    std::optional<srtp::SenderKey> SenderKeyOf(int32_t userId, Medium medium) const {
        const srtp::RoomEpoch room{secret, roomId, epoch};
        return srtp::DeriveSenderKey(room, userId,
                                     medium == Medium::kVideo ? srtp::KeyMedium::kVideo : srtp::KeyMedium::kVoice);
    }
};

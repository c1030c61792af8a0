// How the room's players use their voice beyond speaking all the time: the
// transmit mode, a push-to-talk key pressed to a script, and what every
// listener chose for some speakers.
#pragma once

#include <tavolin/tavolin.h>

#include <chrono>
#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <vector>

namespace room {

struct VoiceSettings {
    int transmitMode = TAVOLIN_VOICE_TRANSMIT_ALWAYS;
    // Push-to-talk: the key down, then up, for these many ms in turn, over
    // and over. Player k of n starts k/n of the whole pattern late, so that
    // the players take turns.
    std::vector<int> pushToTalkMs;
    std::map<int, int> volumePercent;  // by speaker, as every listener sets it
    std::set<int> muted;               // speakers every listener mutes
    // The players' microphones and speakers: synthetic ones, or for a room
    // of this many seconds devices of a private sound server.
    std::optional<double> soundServerSeconds;

    // Players speak now and then rather than all the time.
    bool Intermittent() const { return transmitMode != TAVOLIN_VOICE_TRANSMIT_ALWAYS; }
};

// Whether the key of the player with index `player` of `players` is down
// `sinceStart` after the room started.
bool KeyDown(const std::vector<int>& patternMs, int player, int players, std::chrono::milliseconds sinceStart);

}  // namespace room

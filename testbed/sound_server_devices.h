// The room's players on a real sound server instead of synthetic devices: a
// private PulseAudio daemon whose bus (a null sink) has two channels per
// player, the feed of its microphone and what its speaker plays. One program
// feeds every microphone from one file, so all feeds keep one clock, and one
// recording of the bus holds feeds and speakers sample-aligned: what each
// listener heard is then analysed as a synthetic speaker's sound is, with the
// feeds' clock standing in for the monotonic one.
#pragma once

#include "testbed/measurement/heard_sound.h"
#include "testkit/sound_server/sound_server.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace room {

class SoundServerDevices {
public:
    // The devices' descriptions, which the engines select.
    static std::string MicrophoneName(int userId);
    static std::string SpeakerName(int userId);

    // Starts the server, a microphone and a speaker per player and the feeds
    // (`signal`, each player's tone and marker, `seconds` long), and records
    // the bus; false with `error` set when any of it cannot start.
    bool Start(const std::vector<int>& players, int signal, double seconds, std::string* error);
    // After the engines stopped: stops feeds and recording and gives `heard`
    // what the player's speaker played, from its first sound on, also
    // written to `wavPath`; false when the recording holds no marker of the
    // feeds.
    bool Replay(int userId, const std::string& wavPath, HeardSound* heard);

private:
    bool LoadDevices(std::string* error);
    bool StartFeeds(int signal, double seconds, std::string* error);
    // The recording split per channel, and the time of its first sample on
    // the feeds' clock.
    bool ReadRecording();

    voice::SoundServer server_;
    std::vector<int> players_;
    voice::ChildProcess feed_, recorder_;
    std::vector<voice::ChildProcess> quiet_;
    std::vector<std::vector<int16_t>> channels_;  // once read
    std::optional<int64_t> startMicros_;          // of the recording, once read
};

}  // namespace room

// Voice in the room: every player speaks through a synthetic microphone with
// a tone of its own and a marker once a second, and hears through a
// synthetic speaker whose sound is analysed as it comes and written to
// heard-<player>.wav. At the end, for every listener and speaker: frames
// received, lost and concealed, mouth-to-ear latency from marker to marker,
// and whether the speaker's tone is in the listener's mix.
#pragma once

#include "testbed/measurement/heard_sound.h"
#include "testbed/measurement/voice_analysis.h"
#include "testbed/player.h"
#include "testbed/room_log.h"

#include <tavolin/tavolin.h>

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace room {

// The host functions of the voice component, from the loaded library.
struct VoiceFunctions {
    decltype(&TavolinAddSyntheticMicrophone) addMicrophone = nullptr;
    decltype(&TavolinAddSyntheticSpeaker) addSpeaker = nullptr;
    decltype(&TavolinSelectVoiceDevice) selectDevice = nullptr;
    decltype(&TavolinSetVoiceLogSink) setLogSink = nullptr;
    decltype(&TavolinGetVoiceStats) getStats = nullptr;
    // From the library already loaded from `path`; false with `error` set.
    bool Resolve(const std::string& path, std::string* error);
};

class VoiceRoom {
public:
    // Adds the devices of the players here (ids `local`) of a room of
    // `playersInRoom`; false with `error` set when one cannot be added.
    VoiceRoom(VoiceFunctions functions, std::vector<int> local, int playersInRoom, std::string outDirectory);
    bool AddDevices(std::string* error);
    // For each local player's engine thread: picks its devices and switches its voice on.
    PlayerTask StartTask(int userId);

    // While the engines run: frames played by all local listeners so far.
    uint64_t FramesPlayed();
    // While the engines run, now and then: analyses what was heard so far.
    void AnalyseHeard();
    // While the engines run, at the end: the counters of every pair.
    void CollectCounters();
    // After the engines stopped: the analysis of what each listener heard.
    VoiceReport Report();
    void WriteLog(const std::string& path) const { log_.WriteFile(path); }

private:
    struct Listener {
        Listener(RoomLog& log, int id, const std::vector<MarkedSpeaker>& speakers, size_t keptSamples)
            : userId(id), logSink(log, id), heard(speakers, keptSamples) {}
        int userId;
        ITavolinEngine* engine = nullptr;  // set by its start task, on its thread
        PlayerLogSink logSink;
        HeardSound heard;
        std::map<int, TavolinVoiceStats> counters;  // by speaker
    };
    static void OnHeard(void* context, const int16_t* samples, int count, int64_t monotonicMicros);
    VoicePair Analyse(const Listener& listener, int speaker) const;

    VoiceFunctions functions_;
    std::vector<int> local_;
    int playersInRoom_;
    std::string outDirectory_;
    RoomLog log_;
    std::map<int, std::unique_ptr<Listener>> listeners_;
    std::mutex enginesLock_;
};

// The tone and marker instant of each player, the same in every process.
int ToneFrequencyHz(int userId);
int MarkerOffsetMs(int userId);

}  // namespace room

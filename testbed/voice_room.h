// Voice in the room: every player speaks through a synthetic microphone with
// a tone of its own and a marker once a second (in the rhythm of a
// conversation when voice activity decides what is sent), and hears through
// a synthetic speaker whose sound is analysed as it comes and written to
// heard-<player>.wav. At the end, for every listener and speaker: frames
// received, lost and concealed, mouth-to-ear latency from marker to marker,
// whether the speaker's tone is in the listener's mix and how loud, and
// what the speaker sent.
#pragma once

#include "testbed/measurement/heard_sound.h"
#include "testbed/measurement/voice_analysis.h"
#include "testbed/player.h"
#include "testbed/room_log.h"
#include "testbed/sound_server_devices.h"
#include "testbed/voice_settings.h"

#include <tavolin/tavolin.h>

#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace room {

// The host functions of the voice component, from the loaded library.
struct VoiceFunctions {
    decltype(&TavolinAddSyntheticMicrophone) addMicrophone = nullptr;
    decltype(&TavolinAddSyntheticSpeaker) addSpeaker = nullptr;
    decltype(&TavolinSelectVoiceDevice) selectDevice = nullptr;
    decltype(&TavolinSetVoiceLogSink) setLogSink = nullptr;
    decltype(&TavolinGetVoiceStats) getStats = nullptr;
    decltype(&TavolinGetVoiceControlStats) getControlStats = nullptr;
    decltype(&TavolinSetVoiceTransmitMode) setTransmitMode = nullptr;
    decltype(&TavolinSetVoiceTalking) setTalking = nullptr;
    decltype(&TavolinSetVoiceUserVolume) setUserVolume = nullptr;
    decltype(&TavolinMuteVoiceUser) muteUser = nullptr;
    // From the library already loaded from `path`; false with `error` set.
    bool Resolve(const std::string& path, std::string* error);
};

class VoiceRoom {
public:
    // Adds the devices of the players here (ids `local`) of a room of
    // `playersInRoom`; false with `error` set when one cannot be added.
    VoiceRoom(VoiceFunctions functions, std::vector<int> local, int playersInRoom, std::string outDirectory,
              VoiceSettings settings = {});
    ~VoiceRoom();
    bool AddDevices(std::string* error);
    // For each local player's engine thread: picks its devices, applies the
    // settings and switches its voice on.
    PlayerTask StartTask(int userId);
    // Presses and releases the local players' push-to-talk keys to the
    // settings' pattern, counted from now, until CollectCounters.
    void StartPressingKeys();

    // While the engines run: frames played by all local listeners so far.
    uint64_t FramesPlayed();
    // While the engines run, now and then: analyses what was heard so far.
    void AnalyseHeard();
    // While the engines run, at the end: the keys released, the counters of every pair.
    void CollectCounters();
    // After the engines stopped: the analysis of what each listener heard
    // (false for every pair when a sound server's recording had no marker).
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
        std::map<int, TavolinVoiceStats> counters;         // by speaker
        std::map<int, TavolinVoiceControlStats> controls;  // by speaker, and -1 for its own microphone
        bool keyDown = false;                              // the key presser's
    };
    static void OnHeard(void* context, const int16_t* samples, int count, int64_t monotonicMicros);
    VoicePair Analyse(const Listener& listener, int speaker, const TalkFigures& talk) const;
    void PressKeys(std::chrono::steady_clock::time_point start);
    void StopPressingKeys();

    VoiceFunctions functions_;
    VoiceSettings settings_;
    std::vector<int> local_;
    int playersInRoom_;
    std::string outDirectory_;
    RoomLog log_;
    std::map<int, std::unique_ptr<Listener>> listeners_;
    std::unique_ptr<SoundServerDevices> soundServer_;  // when the settings ask for one
    std::mutex enginesLock_;
    std::thread keyPresser_;
    std::condition_variable stopPressing_;
    bool pressing_ = false;  // under enginesLock_
};

// The tone and marker instant of each player, the same in every process.
int ToneFrequencyHz(int userId);
int MarkerOffsetMs(int userId);

}  // namespace room

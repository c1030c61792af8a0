#include "testbed/voice_room.h"

#include "testbed/testbed_constants.h"

#include <dlfcn.h>

#include <algorithm>

namespace room {
namespace {

static_assert(voice::kDistinctTones >= kMaxPlayers, "one tone per player");
constexpr int kLocalUser = -1;

template <typename Function>
bool Resolve(void* handle, const char* name, Function* function, std::string* error) {
    *function = reinterpret_cast<Function>(dlsym(handle, name));
    if (!*function) *error = std::string("the library does not export ") + name;
    return *function != nullptr;
}

}  // namespace

int ToneFrequencyHz(int userId) { return voice::kDistinctToneFrequenciesHz[(userId - kFirstUserId) % kMaxPlayers]; }

int MarkerOffsetMs(int userId) { return (userId - kFirstUserId) % kMaxPlayers * 1000 / kMaxPlayers; }

namespace {
MarkedSpeaker MarkedSpeakerOf(int userId) { return {userId, double(ToneFrequencyHz(userId)), MarkerOffsetMs(userId)}; }
// The same names for synthetic devices and a sound server's.
std::string MicrophoneName(int userId) { return SoundServerDevices::MicrophoneName(userId); }
std::string SpeakerName(int userId) { return SoundServerDevices::SpeakerName(userId); }
}  // namespace

bool VoiceFunctions::Resolve(const std::string& path, std::string* error) {
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NOLOAD);
    if (!handle) {
        *error = "the library " + path + " is not loaded";
        return false;
    }
    const bool resolved = room::Resolve(handle, "TavolinAddSyntheticMicrophone", &addMicrophone, error) &&
                          room::Resolve(handle, "TavolinAddSyntheticSpeaker", &addSpeaker, error) &&
                          room::Resolve(handle, "TavolinSelectVoiceDevice", &selectDevice, error) &&
                          room::Resolve(handle, "TavolinSetVoiceLogSink", &setLogSink, error) &&
                          room::Resolve(handle, "TavolinGetVoiceStats", &getStats, error) &&
                          room::Resolve(handle, "TavolinGetVoiceControlStats", &getControlStats, error) &&
                          room::Resolve(handle, "TavolinSetVoiceTransmitMode", &setTransmitMode, error) &&
                          room::Resolve(handle, "TavolinSetVoiceTalking", &setTalking, error) &&
                          room::Resolve(handle, "TavolinSetVoiceUserVolume", &setUserVolume, error) &&
                          room::Resolve(handle, "TavolinMuteVoiceUser", &muteUser, error);
    dlclose(handle);  // the reference NOLOAD took; the library stays
    return resolved;
}

VoiceRoom::VoiceRoom(VoiceFunctions functions, std::vector<int> local, int playersInRoom, std::string outDirectory,
                     VoiceSettings settings)
    : functions_(functions),
      settings_(std::move(settings)),
      local_(std::move(local)),
      playersInRoom_(playersInRoom),
      outDirectory_(std::move(outDirectory)) {
    for (int id : local_) {
        std::vector<MarkedSpeaker> speakers;
        for (int speaker = kFirstUserId; speaker < kFirstUserId + playersInRoom_; ++speaker)
            if (speaker != id) speakers.push_back(MarkedSpeakerOf(speaker));
        listeners_[id] = std::make_unique<Listener>(log_, id, speakers, HeardSamplesJudged());
    }
}

VoiceRoom::~VoiceRoom() { StopPressingKeys(); }

bool VoiceRoom::AddDevices(std::string* error) {
    // Voice activity has nothing to do with a tone that never stops.
    const int signal =
        settings_.transmitMode == TAVOLIN_VOICE_TRANSMIT_VOICE_ACTIVITY ? TAVOLIN_MIC_CONVERSATION : TAVOLIN_MIC_TONE;
    if (settings_.soundServerSeconds) {
        soundServer_ = std::make_unique<SoundServerDevices>();
        return soundServer_->Start(local_, signal, *settings_.soundServerSeconds, error);
    }
    for (int id : local_) {
        const std::string wav = outDirectory_ + "/heard-" + std::to_string(id) + ".wav";
        if (!functions_.addMicrophone(MicrophoneName(id).c_str(), signal, ToneFrequencyHz(id), MarkerOffsetMs(id), 0) ||
            !functions_.addSpeaker(SpeakerName(id).c_str(), &VoiceRoom::OnHeard, listeners_.at(id).get(), wav.c_str(),
                                   0)) {
            *error = "cannot add the synthetic microphone or speaker of player " + std::to_string(id);
            return false;
        }
    }
    return true;
}

PlayerTask VoiceRoom::StartTask(int userId) {
    return [this, userId](PlayerContext& player) {
        Listener& listener = *listeners_.at(userId);
        ITavolinEngine* engine = &player.Engine();
        functions_.setLogSink(engine, &listener.logSink);
        functions_.selectDevice(engine, TAVOLIN_VOICE_MICROPHONE, MicrophoneName(userId).c_str());
        functions_.selectDevice(engine, TAVOLIN_VOICE_SPEAKER, SpeakerName(userId).c_str());
        functions_.setTransmitMode(engine, settings_.transmitMode);
        for (const auto& [speaker, percent] : settings_.volumePercent)
            functions_.setUserVolume(engine, speaker, percent);
        for (const int speaker : settings_.muted) functions_.muteUser(engine, speaker, 1);
        ITavolinUser* self = nullptr;
        if (engine->GetUser(userId, &self)) self->EnableAudio(1);
        std::lock_guard lock(enginesLock_);
        listener.engine = engine;
    };
}

void VoiceRoom::StartPressingKeys() {
    if (settings_.transmitMode != TAVOLIN_VOICE_TRANSMIT_PUSH_TO_TALK || settings_.pushToTalkMs.empty()) return;
    {
        std::lock_guard lock(enginesLock_);
        pressing_ = true;
    }
    keyPresser_ = std::thread([this, start = std::chrono::steady_clock::now()] { PressKeys(start); });
}

// Every 10 ms until stopped: each local key as the pattern has it.
void VoiceRoom::PressKeys(std::chrono::steady_clock::time_point start) {
    constexpr auto kKeyCheckPeriod = std::chrono::milliseconds(10);
    std::unique_lock lock(enginesLock_);
    while (!stopPressing_.wait_for(lock, kKeyCheckPeriod, [this] { return !pressing_; })) {
        const auto since =
            std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
        for (auto& [id, listener] : listeners_) {
            const bool down = KeyDown(settings_.pushToTalkMs, id - kFirstUserId, playersInRoom_, since);
            if (!listener->engine || down == listener->keyDown) continue;
            listener->keyDown = down;
            functions_.setTalking(listener->engine, down ? 1 : 0);
        }
    }
}

void VoiceRoom::StopPressingKeys() {
    {
        std::lock_guard lock(enginesLock_);
        pressing_ = false;
    }
    stopPressing_.notify_all();
    if (keyPresser_.joinable()) keyPresser_.join();
}

void VoiceRoom::OnHeard(void* context, const int16_t* samples, int count, int64_t monotonicMicros) {
    static_cast<Listener*>(context)->heard.Append(samples, count, monotonicMicros);
}

void VoiceRoom::AnalyseHeard() {
    for (auto& [id, listener] : listeners_) listener->heard.Analyse();
}

uint64_t VoiceRoom::FramesPlayed() {
    std::lock_guard lock(enginesLock_);
    uint64_t played = 0;
    for (auto& [id, listener] : listeners_) {
        if (!listener->engine) continue;
        for (int speaker = kFirstUserId; speaker < kFirstUserId + playersInRoom_; ++speaker) {
            TavolinVoiceStats stats{};
            if (speaker != id && functions_.getStats(listener->engine, speaker, &stats)) played += stats.framesPlayed;
        }
    }
    return played;
}

void VoiceRoom::CollectCounters() {
    StopPressingKeys();
    std::lock_guard lock(enginesLock_);
    for (auto& [id, listener] : listeners_) {
        if (!listener->engine) continue;
        for (int speaker = kFirstUserId; speaker < kFirstUserId + playersInRoom_; ++speaker) {
            TavolinVoiceStats stats{};
            if (speaker != id && functions_.getStats(listener->engine, speaker, &stats))
                listener->counters[speaker] = stats;
        }
        TavolinVoiceStats own{};
        if (functions_.getStats(listener->engine, kLocalUser, &own)) listener->counters[kLocalUser] = own;
        std::vector<int> users{kLocalUser};
        for (int speaker = kFirstUserId; speaker < kFirstUserId + playersInRoom_; ++speaker)
            if (speaker != id) users.push_back(speaker);
        for (const int user : users) {
            TavolinVoiceControlStats controls{};
            controls.size = sizeof controls;
            if (functions_.getControlStats(listener->engine, user, &controls)) listener->controls[user] = controls;
        }
    }
}

VoiceReport VoiceRoom::Report() {
    VoiceReport report;
    for (auto& [id, listener] : listeners_) {
        if (soundServer_)
            soundServer_->Replay(id, outDirectory_ + "/heard-" + std::to_string(id) + ".wav", &listener->heard);
        listener->heard.Finish();  // the speakers are closed by now
    }
    for (const auto& [id, listener] : listeners_) {
        std::vector<MarkedSpeaker> speakers;
        for (int speaker = kFirstUserId; speaker < kFirstUserId + playersInRoom_; ++speaker)
            if (speaker != id) speakers.push_back(MarkedSpeakerOf(speaker));
        std::map<int, TalkFigures> talk;
        if (settings_.Intermittent()) talk = FindTalk(listener->heard, speakers);
        for (const MarkedSpeaker& speaker : speakers)
            report.pairs.push_back(Analyse(*listener, speaker.userId, talk[speaker.userId]));
    }
    return report;
}

VoicePair VoiceRoom::Analyse(const Listener& listener, int speaker, const TalkFigures& talk) const {
    std::vector<double> others;
    for (int other = kFirstUserId; other < kFirstUserId + playersInRoom_; ++other)
        if (other != speaker && other != listener.userId) others.push_back(ToneFrequencyHz(other));
    const auto counters = listener.counters.find(speaker);
    const Expectation expectation{settings_.Intermittent(), settings_.muted.count(speaker) > 0};
    VoicePair pair = JudgeVoice(listener.userId, MarkedSpeakerOf(speaker), others, listener.heard,
                                counters == listener.counters.end() ? nullptr : &counters->second, expectation, talk);
    if (const auto chosen = listener.controls.find(speaker); chosen != listener.controls.end()) {
        pair.volumePercent = chosen->second.volumePercent;
        pair.levellingGainDb = chosen->second.levellingGainDb;
    }
    if (const auto talker = listeners_.find(speaker); talker != listeners_.end())
        if (const auto own = talker->second->controls.find(kLocalUser); own != talker->second->controls.end()) {
            pair.speakerFramesSent = static_cast<int64_t>(own->second.framesSent);
            pair.speakerFramesCoded =
                static_cast<int64_t>(own->second.framesSent + own->second.framesSuppressed + own->second.framesMuted);
        }
    return pair;
}

}  // namespace room

#include "tools/room/voice_room.h"

#include "tools/room/json_writer.h"
#include "tools/room/room_constants.h"

#include <dlfcn.h>

#include <algorithm>
#include <cassert>
#include <cstdio>

namespace room {
namespace {

static_assert(voice::kDistinctTones >= kMaxPlayers, "one tone per player");
// A listener hears a speaker when the speaker's tone stands this far above
// whatever else the mix holds within kHearingBandHz of it (the room's other
// tones taken out) in at least a third of the windows since it was first
// heard. Not in all: at some phases the codec rings on a pure tone after a
// marker for most of a second, with no network in between; a delivery
// fault (nothing played, wrong sound, frequent concealment) spoils them all.
constexpr double kHeardSnrDb = 10;
constexpr size_t kHeardWindowShare = 3;
constexpr double kHearingBandHz = 50;
// The mix is judged in half-second windows between two of the speaker's
// markers, one per second from a second after the speaker opened.
constexpr int64_t kFirstWindowMicros = 1000000;
constexpr size_t kSnrWindowSamples = 8000;
constexpr int kMaxSnrWindows = 15;
constexpr int64_t kQuietAfterMarkerMicros = 250000;
constexpr int64_t kQuietAfterArrivalMicros = 100000;
// The windows lie in the first seconds of the sound: the last one ends
// before its marker (a second apart from the first) plus a latency, which
// is under a second as the next marker comes a second later, the quiet
// after the marker's arrival and the window itself.
constexpr int64_t kLastWindowEndMicros = kFirstWindowMicros + kMaxSnrWindows * int64_t{1000000} +
                                         kQuietAfterArrivalMicros + kSnrWindowSamples * 1000000 / voice::kRecordingRateHz;
constexpr size_t kKeptSamples = kLastWindowEndMicros * voice::kRecordingRateHz / 1000000 + 1;
constexpr int kLocalUser = -1;

template <typename Function>
bool Resolve(void* handle, const char* name, Function* function, std::string* error) {
    *function = reinterpret_cast<Function>(dlsym(handle, name));
    if (!*function) *error = std::string("the library does not export ") + name;
    return *function != nullptr;
}

double Percentile(std::vector<int64_t> values, double share) {
    std::sort(values.begin(), values.end());
    const size_t index = std::min(values.size() - 1, static_cast<size_t>(share * static_cast<double>(values.size())));
    return static_cast<double>(values[index]) / 1000.0;
}

}  // namespace

int ToneFrequencyHz(int userId) { return voice::kDistinctToneFrequenciesHz[(userId - kFirstUserId) % kMaxPlayers]; }

int MarkerOffsetMs(int userId) { return (userId - kFirstUserId) % kMaxPlayers * 1000 / kMaxPlayers; }

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
                          room::Resolve(handle, "TavolinGetVoiceStats", &getStats, error);
    dlclose(handle);  // the reference NOLOAD took; the library stays
    return resolved;
}

VoiceRoom::VoiceRoom(VoiceFunctions functions, std::vector<int> local, int playersInRoom, std::string outDirectory)
    : functions_(functions), local_(std::move(local)), playersInRoom_(playersInRoom),
      outDirectory_(std::move(outDirectory)) {
    for (int id : local_) {
        std::vector<MarkedSpeaker> speakers;
        for (int speaker = kFirstUserId; speaker < kFirstUserId + playersInRoom_; ++speaker)
            if (speaker != id) speakers.push_back({speaker, double(ToneFrequencyHz(speaker)), MarkerOffsetMs(speaker)});
        listeners_[id] = std::make_unique<Listener>(log_, id, speakers, kKeptSamples);
    }
}

bool VoiceRoom::AddDevices(std::string* error) {
    for (int id : local_) {
        const std::string name = std::to_string(id);
        const std::string wav = outDirectory_ + "/heard-" + name + ".wav";
        if (!functions_.addMicrophone(("room-mic-" + name).c_str(), TAVOLIN_MIC_TONE, ToneFrequencyHz(id),
                                      MarkerOffsetMs(id), 0) ||
            !functions_.addSpeaker(("room-ear-" + name).c_str(), &VoiceRoom::OnHeard, listeners_.at(id).get(),
                                   wav.c_str(), 0)) {
            *error = "cannot add the synthetic microphone or speaker of player " + name;
            return false;
        }
    }
    return true;
}

PlayerTask VoiceRoom::StartTask(int userId) {
    return [this, userId](PlayerContext& player) {
        Listener& listener = *listeners_.at(userId);
        ITavolinEngine* engine = &player.Engine();
        const std::string name = std::to_string(userId);
        functions_.setLogSink(engine, &listener.logSink);
        functions_.selectDevice(engine, TAVOLIN_VOICE_MICROPHONE, ("room-mic-" + name).c_str());
        functions_.selectDevice(engine, TAVOLIN_VOICE_SPEAKER, ("room-ear-" + name).c_str());
        ITavolinUser* self = nullptr;
        if (engine->GetUser(userId, &self)) self->EnableAudio(1);
        std::lock_guard lock(enginesLock_);
        listener.engine = engine;
    };
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
    }
}

VoiceReport VoiceRoom::Report() {
    VoiceReport report;
    for (auto& [id, listener] : listeners_) listener->heard.Finish();  // the speakers are closed by now
    for (const auto& [id, listener] : listeners_)
        for (int speaker = kFirstUserId; speaker < kFirstUserId + playersInRoom_; ++speaker)
            if (speaker != id) report.pairs.push_back(Analyse(*listener, speaker));
    return report;
}

VoicePair VoiceRoom::Analyse(const Listener& listener, int speaker) const {
    VoicePair pair;
    pair.listener = listener.userId;
    pair.speaker = speaker;
    if (const auto counters = listener.counters.find(speaker); counters != listener.counters.end()) {
        pair.received = counters->second.framesReceived;
        pair.lost = counters->second.framesLost;
        pair.concealed = counters->second.framesConcealed;
        pair.late = counters->second.framesLate;
        pair.skipped = counters->second.framesSkipped;
        pair.jitterDelayMs = counters->second.jitterDelayMs;
    }
    const std::vector<int64_t>& latencies = listener.heard.Latencies(speaker);
    if (!latencies.empty()) {
        pair.latencyMedianMs = Percentile(latencies, 0.5);
        pair.latencyP99Ms = Percentile(latencies, 0.99);
    }
    // Every other tone of the room is fitted and taken out; what remains
    // beside the speaker's tone is coding noise and distortion.
    std::vector<double> others;
    for (int other = kFirstUserId; other < kFirstUserId + playersInRoom_; ++other)
        if (other != speaker && other != listener.userId) others.push_back(ToneFrequencyHz(other));
    std::vector<double> snrs;
    const voice::Recording& heard = listener.heard.Beginning();
    const int64_t offset = MarkerOffsetMs(speaker) * int64_t{1000};
    int64_t marker = (heard.startMicros + kFirstWindowMicros - offset) / 1000000 * 1000000 + offset;
    // Half a second from 100 ms after a marker is heard (250 ms after it was
    // made when it was never heard): clear of its sound and of the next one's,
    // which a slow path delays as much.
    const int64_t windowAfterMarker =
        std::max<int64_t>(kQuietAfterMarkerMicros, static_cast<int64_t>(pair.latencyMedianMs.value_or(0) * 1000) +
                                                       kQuietAfterArrivalMicros);
    for (int i = 0; i < kMaxSnrWindows; ++i, marker += 1000000) {
        const int64_t begin = (marker + windowAfterMarker - heard.startMicros) * 16 / 1000;
        if (begin < 0 || begin + int64_t{kSnrWindowSamples} > listener.heard.TotalSamples()) break;
        assert(static_cast<size_t>(begin) + kSnrWindowSamples <= heard.samples.size());
        snrs.push_back(voice::ToneSnrInBandDb(heard.samples, static_cast<size_t>(begin), kSnrWindowSamples,
                                              ToneFrequencyHz(speaker), kHearingBandHz, others));
    }
    // Judged from the first window the speaker was heard in (players join
    // at different times); the median from there on is reported.
    const auto heardAt = [](double snr) { return snr >= kHeardSnrDb; };
    const auto first = std::find_if(snrs.begin(), snrs.end(), heardAt);
    if (first == snrs.end()) {
        pair.toneSnrDb = snrs.empty() ? 0 : *std::max_element(snrs.begin(), snrs.end());
        return pair;
    }
    std::vector<double> since(first, snrs.end());
    std::sort(since.begin(), since.end());
    pair.toneSnrDb = since[since.size() / 2];
    const auto heardWindows = static_cast<size_t>(std::count_if(since.begin(), since.end(), heardAt));
    pair.heard = heardWindows * kHeardWindowShare >= since.size();
    return pair;
}

std::string WithMember(const std::string& objectJson, const std::string& name, const std::string& valueJson) {
    const size_t end = objectJson.rfind('}');
    if (end == std::string::npos) return objectJson;
    const bool empty = objectJson.find_first_not_of(" \n\t{", 0) == end;
    return objectJson.substr(0, end) + (empty ? "" : ",") + "\"" + name + "\":" + valueJson + objectJson.substr(end);
}

bool VoiceReport::EveryListenerHeardEverySpeaker() const {
    return std::all_of(pairs.begin(), pairs.end(), [](const VoicePair& pair) { return pair.heard; });
}

void VoiceReport::Print(std::ostream& out) const {
    out << "\nvoice, listener <- speaker: frames received, lost, concealed, late, skipped;\n"
           "jitter buffer delay at the end; mouth-to-ear median, p99; tone SNR\n";
    char line[200];
    for (const VoicePair& p : pairs) {
        std::snprintf(line, sizeof line,
                      "  %2d <- %2d  %6llu %5llu %5llu %5llu %5llu  %4d ms  %6.1f ms %6.1f ms   %5.1f dB%s\n",
                      p.listener, p.speaker, static_cast<unsigned long long>(p.received),
                      static_cast<unsigned long long>(p.lost), static_cast<unsigned long long>(p.concealed),
                      static_cast<unsigned long long>(p.late), static_cast<unsigned long long>(p.skipped),
                      p.jitterDelayMs, p.latencyMedianMs.value_or(-1), p.latencyP99Ms.value_or(-1), p.toneSnrDb,
                      p.heard ? "" : "   NOT HEARD");
        out << line;
    }
    for (const VoicePair& p : pairs)
        if (!p.heard) out << "player " << p.listener << " does not hear player " << p.speaker << '\n';
}

std::string VoiceReport::Json() const {
    JsonWriter json;
    json.BeginObject().Key("pairs").BeginArray();
    for (const VoicePair& p : pairs) {
        json.BeginObject()
            .Key("listener").Number(p.listener)
            .Key("speaker").Number(p.speaker)
            .Key("frames_received").Number(static_cast<double>(p.received))
            .Key("frames_lost").Number(static_cast<double>(p.lost))
            .Key("frames_concealed").Number(static_cast<double>(p.concealed))
            .Key("frames_late").Number(static_cast<double>(p.late))
            .Key("frames_skipped").Number(static_cast<double>(p.skipped))
            .Key("jitter_delay_ms").Number(p.jitterDelayMs)
            .Key("latency_median_ms").Optional(p.latencyMedianMs)
            .Key("latency_p99_ms").Optional(p.latencyP99Ms)
            .Key("tone_snr_db").Number(p.toneSnrDb)
            .Key("heard").Bool(p.heard)
            .EndObject();
    }
    json.EndArray().EndObject();
    return json.Text();
}

}  // namespace room

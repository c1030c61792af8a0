#include "testbed/sound_server_devices.h"

#include "testbed/voice_room.h"
#include "testkit/signal/signal_generator.h"
#include "testkit/signal/tone_analysis.h"
#include "testkit/signal/wav_file.h"

#include <algorithm>
#include <fstream>

namespace room {
namespace {

constexpr int kRateHz = voice::kRecordingRateHz;
constexpr int64_t kMicrosPerSecond = 1000000;
// The null sink renders in blocks as long as its clients allow; feeds and
// recorder ask for short ones so that the devices stay near real time.
constexpr const char* kLowLatency = "--latency-msec=10";
// The feeds run on past the room's end: the engines start a few seconds in.
constexpr double kFeedMarginSeconds = 30;
// Where the replayed sound's clock starts: any whole number of seconds, as
// only the phase within a second places the markers.
constexpr int64_t kReplayEpochMicros = 10 * kMicrosPerSecond;
constexpr int kReplayChunkSamples = kRateHz / 100;
constexpr int kAnalyseEveryChunks = 100;

std::string Aux(int channel) { return "aux" + std::to_string(channel); }
int MicrophoneChannel(size_t player) { return static_cast<int>(2 * player); }
int SpeakerChannel(size_t player) { return static_cast<int>(2 * player + 1); }

// The median phase of the feed's markers in a recorded microphone channel:
// the feeds' clock at the recording's first sample is minus that. Searched
// from two starts half a second apart, as a search finds a marker only in
// most of the second after each instant.
std::optional<int64_t> FeedClockAtStart(const std::vector<int16_t>& microphone, double toneHz, int markerOffsetMs) {
    for (const int64_t start : {int64_t{0}, kMicrosPerSecond / 2}) {
        std::vector<int64_t> phases = voice::MarkerLatencies({start, microphone}, toneHz, markerOffsetMs);
        if (phases.empty()) continue;
        std::nth_element(phases.begin(), phases.begin() + static_cast<long>(phases.size() / 2), phases.end());
        return start - phases[phases.size() / 2];
    }
    return std::nullopt;
}

}  // namespace

std::string SoundServerDevices::MicrophoneName(int userId) { return "room-mic-" + std::to_string(userId); }
std::string SoundServerDevices::SpeakerName(int userId) { return "room-ear-" + std::to_string(userId); }

bool SoundServerDevices::Start(const std::vector<int>& players, int signal, double seconds, std::string* error) {
    players_ = players;
    if (!server_.Start(error)) return false;
    return LoadDevices(error) && StartFeeds(signal, seconds, error);
}

bool SoundServerDevices::LoadDevices(std::string* error) {
    std::string map;
    for (size_t channel = 0; channel < 2 * players_.size(); ++channel)
        map += (channel ? "," : "") + Aux(static_cast<int>(channel));
    if (server_.LoadModule("module-null-sink", {"sink_name=bus", "channels=" + std::to_string(2 * players_.size()),
                                                "channel_map=" + map, "rate=48000"}) < 0) {
        *error = "the sound server refuses a bus of " + std::to_string(2 * players_.size()) + " channels";
        return false;
    }
    for (size_t i = 0; i < players_.size(); ++i) {
        const std::string id = std::to_string(players_[i]);
        const bool loaded =
            server_.LoadModule("module-remap-source",
                               {"source_name=mic" + id, "master=bus.monitor", "channels=1",
                                "master_channel_map=" + Aux(MicrophoneChannel(i)), "channel_map=mono", "remix=no",
                                "source_properties=device.description=" + MicrophoneName(players_[i])}) >= 0 &&
            server_.LoadModule("module-remap-sink",
                               {"sink_name=ear" + id, "master=bus", "channels=1",
                                "master_channel_map=" + Aux(SpeakerChannel(i)), "channel_map=mono", "remix=no",
                                "sink_properties=device.description=" + SpeakerName(players_[i])}) >= 0;
        if (!loaded) {
            *error = "the sound server refuses the devices of player " + id;
            return false;
        }
    }
    return true;
}

bool SoundServerDevices::StartFeeds(int signal, double seconds, std::string* error) {
    const size_t count = players_.size();
    const size_t samples = static_cast<size_t>((seconds + kFeedMarginSeconds) * kRateHz);
    std::vector<voice::SignalGenerator> generators;
    for (const int id : players_) generators.emplace_back(signal, ToneFrequencyHz(id), MarkerOffsetMs(id));
    std::vector<int16_t> interleaved(samples * count);
    std::vector<int16_t> one(samples);
    std::string map;
    for (size_t i = 0; i < count; ++i) {
        generators[i].Generate(one.data(), static_cast<int>(samples), 0);
        for (size_t s = 0; s < samples; ++s) interleaved[s * count + i] = one[s];
        map += (i ? "," : "") + Aux(MicrophoneChannel(i));
    }
    const std::string feedPath = server_.Directory() + "/feeds.raw";
    std::ofstream(feedPath, std::ios::binary)
        .write(reinterpret_cast<const char*>(interleaved.data()),
               static_cast<std::streamsize>(interleaved.size() * sizeof(int16_t)));
    const std::string format = "--format=s16le", rate = "--rate=" + std::to_string(kRateHz);
    if (!feed_.Start({"pacat", "--playback", kLowLatency, "--raw", format, rate, "--channels=" + std::to_string(count),
                      "--channel-map=" + map, "--device=bus", feedPath})) {
        *error = "cannot run pacat";
        return false;
    }
    // Silence into each speaker keeps it at a low latency: one that nobody
    // plays into has rendered seconds ahead when the engine's stream comes.
    quiet_ = std::vector<voice::ChildProcess>(count);
    for (size_t i = 0; i < count; ++i)
        if (!quiet_[i].Start({"pacat", "--playback", kLowLatency, "--raw", format, rate, "--channels=1",
                              "--device=ear" + std::to_string(players_[i]), "/dev/zero"})) {
            *error = "cannot run pacat";
            return false;
        }
    std::string all;
    for (size_t channel = 0; channel < 2 * count; ++channel)
        all += (channel ? "," : "") + Aux(static_cast<int>(channel));
    if (!recorder_.Start({"parecord", kLowLatency, "--raw", format, rate, "--channels=" + std::to_string(2 * count),
                          "--channel-map=" + all, "--device=bus.monitor", server_.Directory() + "/bus.raw"})) {
        *error = "cannot run parecord";
        return false;
    }
    return true;
}

bool SoundServerDevices::ReadRecording() {
    if (startMicros_) return true;
    recorder_.Stop();
    feed_.Stop();
    for (voice::ChildProcess& quiet : quiet_) quiet.Stop();
    const size_t width = 2 * players_.size();
    channels_.assign(width, {});
    std::ifstream file(server_.Directory() + "/bus.raw", std::ios::binary);
    std::vector<int16_t> frame(width);
    while (file.read(reinterpret_cast<char*>(frame.data()), static_cast<std::streamsize>(width * sizeof(int16_t))))
        for (size_t c = 0; c < width; ++c) channels_[c].push_back(frame[c]);
    const int first = players_.front();
    const std::optional<int64_t> feedClock = FeedClockAtStart(channels_[static_cast<size_t>(MicrophoneChannel(0))],
                                                              ToneFrequencyHz(first), MarkerOffsetMs(first));
    if (!feedClock) return false;
    startMicros_ = kReplayEpochMicros + (*feedClock % kMicrosPerSecond);
    return true;
}

bool SoundServerDevices::Replay(int userId, const std::string& wavPath, HeardSound* heard) {
    const auto player = std::find(players_.begin(), players_.end(), userId);
    if (player == players_.end() || !ReadRecording()) return false;
    const std::vector<int16_t>& ear = channels_[static_cast<size_t>(SpeakerChannel(player - players_.begin()))];
    // From the first sound the engine played, as a synthetic speaker's
    // sound starts when the engine opens it.
    const auto firstSound = std::find_if(ear.begin(), ear.end(), [](int16_t sample) { return sample != 0; });
    voice::WavFile wav;
    const bool writing = wav.Open(wavPath, kRateHz);
    int chunks = 0;
    for (auto at = firstSound; ear.end() - at >= kReplayChunkSamples; at += kReplayChunkSamples) {
        const int64_t micros = *startMicros_ + (at - ear.begin()) * kMicrosPerSecond / kRateHz;
        heard->Append(&*at, kReplayChunkSamples, micros);
        if (writing) wav.Append(&*at, kReplayChunkSamples);
        if (++chunks % kAnalyseEveryChunks == 0) heard->Analyse();
    }
    return true;
}

}  // namespace room

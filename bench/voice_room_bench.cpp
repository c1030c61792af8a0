// Voice alone in a room of N players in this process (default 16): the
// library's voice component per player with a synthetic microphone (a tone of
// its own) and speaker, every frame handed to every other player's component
// as the engine would. Prints the process CPU per player for voice as a ratio
// to bare libopus coding the same frames (measured in the same run), and
// whether every listener heard every speaker.
//   voice_room_bench [players] [seconds]
#include "testkit/signal/tone_analysis.h"
#include "voice/codec/voice_frame.h"
#include "voice/voice_factory.h"

#include <opus/opus.h>
#include <sys/resource.h>
#include <tavolin/tavolin.h>

#include <array>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <numbers>
#include <string>
#include <vector>

namespace {

constexpr double kHeardSnrDb = 10;
constexpr double kHearingBandHz = 50;
constexpr int kBaselineFrames = 300;

double CpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// The engine as the component sees it: every player of the room but itself.
class RoomEngine : public ITavolinEngine {
public:
    explicit RoomEngine(int self) : self_(self) {}
    HRESULT QueryInterface(const IID&, void**) override { return E_NOINTERFACE; }
    ULONG AddRef() override { return 1; }
    ULONG Release() override { return 1; }
    int Create(HINSTANCE, uint32_t, int, int, int, int) override { return 0; }
    int Destroy() override { return 0; }
    int AddUser(int, uint32_t, uint32_t) override { return 0; }
    int SetUserAudioPort(int, int, int) override { return 0; }
    int SetUserVideoPort(int, int, int) override { return 0; }
    int SetUserView(int, ITavolinUserView*) override { return 0; }
    int HasUser(int userId) override { return userId != self_; }
    int RemoveUser(int) override { return 0; }
    int GetUser(int, ITavolinUser**) override { return 0; }
    uint32_t GetLocalAddress() override { return 0; }
    uint16_t GetLocalAudioPort() override { return 0; }
    uint16_t GetLocalVideoPort() override { return 0; }
    int SetEventSink(ITavolinEventSink*) override { return 0; }

private:
    int self_;
};

struct Player;
std::vector<std::unique_ptr<Player>> g_players;

// Hands each frame the component sends to every other player's component.
struct Player : ITavolinAudioSink {
    explicit Player(int id) : id(id), engine(id) {}
    void OnEncodedAudio(const uint8_t* data, int length) override {
        for (auto& other : g_players)
            if (other->id != id) other->component->PlayAudio(id, data, length);
    }
    int id;
    RoomEngine engine;
    ITavolinAudioEngine* component = nullptr;
    std::mutex lock;
    voice::Recording heard;
};

void OnHeard(void* context, const int16_t* samples, int count, int64_t micros) {
    auto* player = static_cast<Player*>(context);
    std::lock_guard lock(player->lock);
    voice::AppendToRecording(player->heard, samples, count, micros);
}

// Bare libopus, same settings: CPU seconds for one 30 ms encode and one decode.
std::pair<double, double> BareCosts() {
    int error = 0;
    OpusEncoder* encoder = opus_encoder_create(voice::kSampleRateHz, 1, OPUS_APPLICATION_VOIP, &error);
    opus_encoder_ctl(encoder, OPUS_SET_BITRATE(12800));
    opus_encoder_ctl(encoder, OPUS_SET_VBR(0));
    opus_encoder_ctl(encoder, OPUS_SET_SIGNAL(OPUS_SIGNAL_VOICE));
    opus_encoder_ctl(encoder, OPUS_SET_BANDWIDTH(OPUS_BANDWIDTH_WIDEBAND));
    opus_encoder_ctl(encoder, OPUS_SET_INBAND_FEC(1));
    opus_encoder_ctl(encoder, OPUS_SET_PACKET_LOSS_PERC(10));
    OpusDecoder* decoder = opus_decoder_create(voice::kSampleRateHz, 1, &error);
    std::vector<std::array<unsigned char, 16>> packets(3 * kBaselineFrames);
    std::vector<int> lengths(3 * kBaselineFrames);
    std::array<int16_t, voice::kFrameSamples> pcm{};
    double start = CpuSeconds();
    for (int f = 0; f < kBaselineFrames; ++f) {
        for (int i = 0; i < voice::kFrameSamples; ++i)
            pcm[static_cast<size_t>(i)] = static_cast<int16_t>(
                2065 * std::sin(2 * std::numbers::pi * 700 * (f * voice::kFrameSamples + i) / voice::kSampleRateHz));
        for (int i = 0; i < 3; ++i) {
            const size_t at = static_cast<size_t>(3 * f + i);
            lengths[at] = opus_encode(encoder, pcm.data() + i * 160, 160, packets[at].data(), 16);
        }
    }
    const double encode = (CpuSeconds() - start) / kBaselineFrames;
    start = CpuSeconds();
    int decoded = 0;
    for (size_t f = 0; f < packets.size(); ++f)
        decoded += opus_decode(decoder, packets[f].data(), lengths[f], pcm.data(), 160, 0);
    const double decode = (CpuSeconds() - start) / kBaselineFrames;
    opus_encoder_destroy(encoder);
    opus_decoder_destroy(decoder);
    if (decoded != 3 * kBaselineFrames * 160) std::fprintf(stderr, "bare decoding failed\n");
    return {encode, decode};
}

}  // namespace

int main(int argc, char** argv) {
    const int players = argc > 1 ? std::atoi(argv[1]) : 16;
    const int seconds = argc > 2 ? std::atoi(argv[2]) : 10;
    if (players < 2 || players > voice::kDistinctTones || seconds < 4) {
        std::fprintf(stderr, "usage: %s [players 2..16] [seconds >= 4]\n", argv[0]);
        return 2;
    }
    const auto [encodeSeconds, decodeSeconds] = BareCosts();

    for (int id = 1; id <= players; ++id) {
        auto player = std::make_unique<Player>(id);
        voice::CreateVoiceComponent(&IID_ITavolinAudioEngine, reinterpret_cast<void**>(&player->component));
        player->component->Init(nullptr, nullptr, player.get());
        player->component->SetEngine(&player->engine);
        const std::string name = std::to_string(id);
        TavolinAddSyntheticMicrophone(("mic-" + name).c_str(), TAVOLIN_MIC_TONE,
                                      voice::kDistinctToneFrequenciesHz[id - 1], -1, 0);
        TavolinAddSyntheticSpeaker(("ear-" + name).c_str(), &OnHeard, player.get(), nullptr, 0);
        TavolinSelectVoiceDevice(&player->engine, TAVOLIN_VOICE_MICROPHONE, ("mic-" + name).c_str());
        TavolinSelectVoiceDevice(&player->engine, TAVOLIN_VOICE_SPEAKER, ("ear-" + name).c_str());
        g_players.push_back(std::move(player));
    }
    const double cpuStart = CpuSeconds();
    for (auto& player : g_players) player->component->StartSend();
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (std::chrono::steady_clock::now() < end) TavolinPumpMessages(10);
    uint64_t sent = 0, played = 0, concealed = 0;
    for (auto& player : g_players) {
        TavolinVoiceStats stats{};
        TavolinGetVoiceStats(&player->engine, -1, &stats);
        sent += stats.framesSent;
        for (auto& other : g_players) {
            if (other->id == player->id) continue;
            TavolinGetVoiceStats(&player->engine, other->id, &stats);
            played += stats.framesPlayed + stats.framesConcealed;
            concealed += stats.framesConcealed;
        }
    }
    const double cpu = CpuSeconds() - cpuStart;
    // Every component stops before any goes: until its Destroy returns, a
    // player's microphone still hands frames to the others' components.
    for (auto& player : g_players) player->component->Destroy();
    for (auto& player : g_players) player->component->Release();

    int heardPairs = 0, pairs = 0;
    std::vector<double> all;
    for (auto& listener : g_players) {
        const auto& samples = listener->heard.samples;
        std::vector<double> tones;
        for (auto& other : g_players)
            if (other->id != listener->id) tones.push_back(voice::kDistinctToneFrequenciesHz[other->id - 1]);
        for (auto& speaker : g_players) {
            if (speaker->id == listener->id) continue;
            ++pairs;
            std::vector<double> others;
            for (double tone : tones)
                if (tone != voice::kDistinctToneFrequenciesHz[speaker->id - 1]) others.push_back(tone);
            // The last 2 s, once everyone talks.
            const double snr = samples.size() < 2 * 16000u
                                   ? -100
                                   : voice::ToneSnrInBandDb(samples, samples.size() - 2 * 16000, 2 * 16000,
                                                            voice::kDistinctToneFrequenciesHz[speaker->id - 1],
                                                            kHearingBandHz, others);
            all.push_back(snr);
            if (snr >= kHeardSnrDb)
                ++heardPairs;
            else
                std::printf("player %d does not hear player %d (tone %.1f dB)\n", listener->id, speaker->id, snr);
        }
    }
    const double bare = static_cast<double>(sent) * encodeSeconds + static_cast<double>(played) * decodeSeconds;
    std::printf("%d players, %d s: %llu frames sent, %llu played (%llu concealed); heard %d of %d pairs\n", players,
                seconds, static_cast<unsigned long long>(sent), static_cast<unsigned long long>(played),
                static_cast<unsigned long long>(concealed), heardPairs, pairs);
    std::printf("voice CPU per player: %.1f ms per second; relative to bare libopus coding the same frames: %.3f\n",
                cpu / players / seconds * 1000, bare > 0 ? cpu / bare : 0);
    TavolinRemoveSyntheticAudioDevices();
    return heardPairs == pairs ? 0 : 1;
}

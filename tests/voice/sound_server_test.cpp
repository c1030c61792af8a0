// Two engines on loopback with the library's voice component on a real sound
// server: a private PulseAudio daemon whose virtual devices are remap sinks
// onto the channels of one null sink, so that one recording of that sink
// holds each microphone's feed and each speaker's output sample-aligned.
#include "tests/voice/voice_players.h"
#include "transport/address_server.h"
#include "voice/sound_server.h"
#include "voice/synthetic_audio.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

namespace {
using namespace std::chrono_literals;
using namespace voice_test;

constexpr int kRecordRateHz = 16000;
// Channels of the bus, one per device: the microphones' feeds and the
// speakers' outputs of players 1 and 2.
enum Channel { kMic1, kSpeaker1, kMic2, kSpeaker2, kChannels };
constexpr const char* kDevices[kChannels] = {"mic1", "spk1", "mic2", "spk2"};
constexpr const char* kMonitorOf = "Monitor of ";
// Feeds and recorder ask for small buffers too: the null sink renders in
// blocks as long as its clients allow (2 s without this).
constexpr const char* kLowLatency = "--latency-msec=10";

struct Voice {
    int frequencyHz, markerOffsetMs;
};
constexpr Voice kVoices[2] = {{voice::kDistinctToneFrequenciesHz[0], 100}, {voice::kDistinctToneFrequenciesHz[1], 600}};

double Percentile(std::vector<int64_t> values, double share) {
    std::sort(values.begin(), values.end());
    return values[static_cast<size_t>(share * static_cast<double>(values.size() - 1))] / 1000.0;
}

class SoundServerCall : public ::testing::Test {
protected:
    void SetUp() override {
        std::string why;
        if (!server.Start(&why)) GTEST_SKIP() << "no sound server for this test: " << why;
        ASSERT_GE(server.LoadModule("module-null-sink", {"sink_name=bus", "channels=4",
                                                         "channel_map=aux0,aux1,aux2,aux3", "rate=48000"}),
                  0);
        for (int channel = 0; channel < kChannels; ++channel) {
            const std::string name = kDevices[channel];
            ASSERT_GE(server.LoadModule("module-remap-sink",
                                        {"sink_name=" + name, "master=bus", "channels=1",
                                         "master_channel_map=aux" + std::to_string(channel), "channel_map=mono",
                                         "remix=no", "sink_properties=device.description=" + name}),
                      0);
        }
        ASSERT_TRUE(addressServer.Start(kLoopback, 0));
    }

    // Each microphone hears its player's tone with a marker once a second;
    // a remap sink passes nothing on until something plays into it, so the
    // feeds start before the engines.
    void StartFeeds(int seconds) {
        for (int player = 0; player < 2; ++player) {
            voice::SignalGenerator generator(TAVOLIN_MIC_TONE, kVoices[player].frequencyHz,
                                             kVoices[player].markerOffsetMs);
            std::vector<int16_t> samples(static_cast<size_t>(seconds * kRecordRateHz));
            generator.Generate(samples.data(), static_cast<int>(samples.size()), 0);
            const std::string path = server.Directory() + "/feed" + std::to_string(player) + ".raw";
            std::ofstream(path, std::ios::binary)
                .write(reinterpret_cast<const char*>(samples.data()), static_cast<std::streamsize>(samples.size() * 2));
            ASSERT_TRUE(feeds[player].Start({"pacat", "--playback", kLowLatency, "--raw", "--format=s16le", "--rate=16000",
                                             "--channels=1", "--device=" + std::string(kDevices[player * 2]), path}));
            // Silence into each speaker keeps its remap sink at a low latency
            // (one that nobody plays into has rendered seconds ahead when the
            // engine's stream arrives, and the first seconds come late).
            ASSERT_TRUE(quiet[player].Start({"pacat", "--playback", kLowLatency, "--raw", "--format=s16le",
                                             "--rate=16000", "--channels=1",
                                             "--device=" + std::string(kDevices[player * 2 + 1]), "/dev/zero"}));
        }
    }

    void StartRecording() {
        ASSERT_TRUE(recorder.Start({"parecord", kLowLatency, "--raw", "--format=s16le", "--rate=16000", "--channels=4",
                                    "--channel-map=aux0,aux1,aux2,aux3", "--device=bus.monitor", RecordingPath()}));
    }

    // The bus as recorded so far, one vector per channel.
    std::array<std::vector<int16_t>, kChannels> StopRecording() {
        recorder.Stop();
        std::ifstream file(RecordingPath(), std::ios::binary);
        std::array<std::vector<int16_t>, kChannels> channels;
        std::array<int16_t, kChannels> frame;
        while (file.read(reinterpret_cast<char*>(frame.data()), sizeof frame))
            for (int c = 0; c < kChannels; ++c) channels[c].push_back(frame[c]);
        return channels;
    }

    std::string RecordingPath() const { return server.Directory() + "/bus.raw"; }

    void UseDevices(Player& player, int index) {
        const std::string microphone = kMonitorOf + std::string(kDevices[index * 2]);
        ASSERT_EQ(1, TavolinSelectVoiceDevice(player.engine, TAVOLIN_VOICE_MICROPHONE, microphone.c_str()));
        ASSERT_EQ(1, TavolinSelectVoiceDevice(player.engine, TAVOLIN_VOICE_SPEAKER, kDevices[index * 2 + 1]));
    }

    voice::SoundServer server;
    voice::ChildProcess feeds[2];
    voice::ChildProcess quiet[2];
    voice::ChildProcess recorder;
    CAddressServerThread addressServer;
};

TEST_F(SoundServerCall, MouthToEarWithinBudgetBothWaysWithoutLoss) {
    StartFeeds(40);
    StartRecording();
    Player one(1, addressServer.Port()), two(2, addressServer.Port());
    UseDevices(one, 0);
    UseDevices(two, 1);
    ASSERT_TRUE(KnowTheirAddresses(one, two));
    one.Meet(two);
    two.Meet(one);
    one.Talk();
    two.Talk();
    // Twelve seconds of call; markers of the first two are left out.
    ASSERT_TRUE(PumpUntil([&] { return one.StatsOf(2).framesPlayed >= 400 && two.StatsOf(1).framesPlayed >= 400; },
                          25s));
    const auto bus = StopRecording();
    const size_t settled = 2 * kRecordRateHz + bus[kMic1].size() - std::min<size_t>(bus[kMic1].size(), 12 * 16000);
    for (int speaker = 0; speaker < 2; ++speaker) {
        const Channel from = speaker == 0 ? kMic1 : kMic2, to = speaker == 0 ? kSpeaker2 : kSpeaker1;
        Player& listener = speaker == 0 ? two : one;
        const std::vector<int16_t> said(bus[from].begin() + static_cast<long>(settled), bus[from].end());
        const std::vector<int16_t> heard(bus[to].begin() + static_cast<long>(settled), bus[to].end());
        const std::vector<int64_t> delays = voice::MarkerDelays(said, heard, kVoices[speaker].frequencyHz);
        const TavolinVoiceStats stats = listener.StatsOf(speaker + 1);
        ASSERT_GE(delays.size(), 8u) << "markers of player " << speaker + 1 << " heard";
        std::printf("player %d -> %d through the sound server: mouth-to-ear median %.1f ms, p99 %.1f ms over %zu "
                    "markers; frames played %llu, lost %llu, concealed %llu, skipped %llu, jitter delay %d ms\n",
                    speaker + 1, 2 - speaker, Percentile(delays, 0.5), Percentile(delays, 0.99), delays.size(),
                    static_cast<unsigned long long>(stats.framesPlayed),
                    static_cast<unsigned long long>(stats.framesLost),
                    static_cast<unsigned long long>(stats.framesConcealed),
                    static_cast<unsigned long long>(stats.framesSkipped), stats.jitterDelayMs);
        EXPECT_LE(Percentile(delays, 0.5), 100.0);
        EXPECT_LE(Percentile(delays, 0.99), 130.0);
        EXPECT_EQ(0u, stats.framesLost);
    }
}

}  // namespace

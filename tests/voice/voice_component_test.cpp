// The voice component on its own: a stand-in engine, synthetic devices, and
// the test thread as the engine thread that pumps the component's window.
#include "testkit/signal/tone_analysis.h"
#include "voice/codec/voice_encoder.h"
#include "voice/voice_factory.h"

#include "tests/support/recording_log_sink.h"

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <cstddef>
#include <cstring>
#include <functional>
#include <mutex>
#include <set>
#include <string>
#include <vector>

namespace {
using namespace std::chrono_literals;
using testing_support::RecordingLogSink;

constexpr int kRemote = 7;

// Only HasUser matters to the component.
class StandInEngine : public ITavolinEngine {
public:
    HRESULT QueryInterface(const IID&, void**) override { return E_NOINTERFACE; }
    ULONG AddRef() override { return 1; }
    ULONG Release() override { return 1; }
    int Create(HINSTANCE, uint32_t, int, int, int, int) override { return 0; }
    int Destroy() override { return 0; }
    int AddUser(int, uint32_t, uint32_t) override { return 0; }
    int SetUserAudioPort(int, int, int) override { return 0; }
    int SetUserVideoPort(int, int, int) override { return 0; }
    int SetUserView(int, ITavolinUserView*) override { return 0; }
    int HasUser(int userId) override { return users.count(userId) ? 1 : 0; }
    int RemoveUser(int) override { return 0; }
    int GetUser(int, ITavolinUser**) override { return 0; }
    uint32_t GetLocalAddress() override { return 0; }
    uint16_t GetLocalAudioPort() override { return 0; }
    uint16_t GetLocalVideoPort() override { return 0; }
    int SetEventSink(ITavolinEventSink*) override { return 0; }

    std::set<int> users{kRemote};
};

// Frames arrive on the microphone's thread while the test reads them.
class FrameSink : public ITavolinAudioSink {
public:
    void OnEncodedAudio(const uint8_t* data, int length) override {
        std::lock_guard lock(lock_);
        frames_.emplace_back(data, data + length);
    }
    std::vector<std::vector<uint8_t>> Frames() {
        std::lock_guard lock(lock_);
        return frames_;
    }
    size_t Count() {
        std::lock_guard lock(lock_);
        return frames_.size();
    }

private:
    std::mutex lock_;
    std::vector<std::vector<uint8_t>> frames_;
};

struct Heard {
    std::mutex lock;
    voice::Recording recording;
};

void OnHeard(void* context, const int16_t* samples, int count, int64_t micros) {
    auto* heard = static_cast<Heard*>(context);
    std::lock_guard lock(heard->lock);
    voice::AppendToRecording(heard->recording, samples, count, micros);
}

class VoiceComponent : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(S_OK, voice::CreateVoiceComponent(&IID_ITavolinAudioEngine, reinterpret_cast<void**>(&component)));
        ASSERT_EQ(1, component->Init(nullptr, nullptr, &sink));
        component->SetEngine(&engine);
        ASSERT_EQ(1, TavolinSetVoiceLogSink(&engine, &log));
    }
    void TearDown() override {
        component->Destroy();
        component->Release();
        TavolinRemoveSyntheticAudioDevices();
    }
    // Pumps the test thread (the engine thread) until done() or the time is up.
    bool PumpUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
        const auto end = std::chrono::steady_clock::now() + limit;
        while (!done()) {
            if (std::chrono::steady_clock::now() > end) return false;
            TavolinPumpMessages(10);
        }
        return true;
    }
    TavolinVoiceControlStats ControlStats(int userId) {
        TavolinVoiceControlStats stats{};
        stats.size = sizeof stats;
        TavolinGetVoiceControlStats(&engine, userId, &stats);
        return stats;
    }
    TavolinVoiceStats Stats(int userId) {
        TavolinVoiceStats stats{};
        TavolinGetVoiceStats(&engine, userId, &stats);
        return stats;
    }

    ITavolinAudioEngine* component = nullptr;
    StandInEngine engine;
    FrameSink sink;
    RecordingLogSink log;
};

TEST_F(VoiceComponent, DropsAndCountsWhatIsNoFrameOfAKnownUserAndForgetsRemovedUsers) {
    voice::VoiceEncoder encoder;
    std::array<int16_t, voice::kFrameSamples> silence{};
    std::array<uint8_t, voice::kFrameBytes> frame{};
    ASSERT_TRUE(encoder.Encode(silence.data(), frame.data()));
    EXPECT_EQ(1, component->PlayAudio(kRemote, frame.data(), 50));
    EXPECT_EQ(0, component->PlayAudio(kRemote, frame.data(), 49));
    EXPECT_EQ(0, component->PlayAudio(8, frame.data(), 50));   // not in the engine
    EXPECT_EQ(0, component->PlayAudio(-1, frame.data(), 50));  // the local user
    std::array<uint8_t, voice::kFrameBytes> noise{};
    noise.fill(0xFF);
    EXPECT_EQ(0, component->PlayAudio(kRemote, noise.data(), 50));

    const TavolinVoiceStats local = Stats(-1);
    EXPECT_EQ(1u, local.droppedWrongLength);
    EXPECT_EQ(2u, local.droppedUnknownUser);
    const TavolinVoiceStats remote = Stats(kRemote);
    EXPECT_EQ(1u, remote.framesReceived);
    EXPECT_EQ(1u, remote.framesInvalid);

    EXPECT_EQ(1, component->RemoveUser(kRemote));
    TavolinVoiceStats gone{};
    EXPECT_EQ(0, TavolinGetVoiceStats(&engine, kRemote, &gone));
    EXPECT_EQ(0, component->GetLevel(kRemote, 9));
}

TEST_F(VoiceComponent, SendsThirtyMillisecondFramesFromTheMicrophoneWhileSendingIsOn) {
    ASSERT_EQ(1, TavolinAddSyntheticMicrophone("tone", TAVOLIN_MIC_TONE, 500, -1, 0));
    ASSERT_EQ(1, TavolinSelectVoiceDevice(&engine, TAVOLIN_VOICE_MICROPHONE, "tone"));
    PumpUntil([] { return false; }, 200ms);
    EXPECT_EQ(0u, sink.Count()) << "frames before StartSend";
    component->StartSend();
    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(PumpUntil([&] { return sink.Count() >= 34; }, 3s));
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_LT(seconds, 1.0 + 0.3);  // 33 frames a second, after the microphone opened
    const auto frames = sink.Frames();
    for (size_t i = 1; i < frames.size(); ++i) {
        ASSERT_EQ(50u, frames[i].size());
        const auto previous = voice::ParseFrame(frames[i - 1].data(), 50);
        const auto current = voice::ParseFrame(frames[i].data(), 50);
        ASSERT_TRUE(previous && current);
        EXPECT_EQ(static_cast<uint16_t>(previous->sequence + 1), current->sequence);
    }
    const int level = component->GetLevel(-1, 9);
    EXPECT_GE(level, 4);  // -24 dBFS tone: 9 x 36/60, rounded
    EXPECT_LE(level, 6);

    component->StopSend();
    PumpUntil([] { return false; }, 100ms);
    const size_t sent = sink.Count();
    PumpUntil([] { return false; }, 300ms);
    EXPECT_EQ(sent, sink.Count());
    EXPECT_EQ(sent, Stats(-1).framesSent);
    EXPECT_EQ(0, component->GetLevel(-1, 9));
}

// Frames from one component played by another: the tone comes out of the
// synthetic speaker.
TEST_F(VoiceComponent, PlaysWhatAnotherComponentSentThroughTheSelectedSpeaker) {
    Heard heard;
    const int toneHz = voice::kDistinctToneFrequenciesHz[0];
    ASSERT_EQ(1, TavolinAddSyntheticMicrophone("tone", TAVOLIN_MIC_TONE, toneHz, -1, 0));
    ASSERT_EQ(1, TavolinAddSyntheticSpeaker("ear", &OnHeard, &heard, nullptr, 0));
    ASSERT_EQ(1, TavolinSelectVoiceDevice(&engine, TAVOLIN_VOICE_MICROPHONE, "tone"));
    ASSERT_EQ(1, TavolinSelectVoiceDevice(&engine, TAVOLIN_VOICE_SPEAKER, "ear"));
    component->StartSend();
    size_t played = 0;
    ASSERT_TRUE(PumpUntil(
        [&] {
            const auto frames = sink.Frames();
            for (; played < frames.size(); ++played) component->PlayAudio(kRemote, frames[played].data(), 50);
            std::lock_guard lock(heard.lock);
            return heard.recording.samples.size() >= 3 * voice::kSampleRateHz;
        },
        6s));
    std::lock_guard lock(heard.lock);
    const auto& samples = heard.recording.samples;
    EXPECT_GT(voice::ToneSnrDb(samples, samples.size() - 2 * voice::kSampleRateHz, voice::kSampleRateHz, toneHz), 20.0);
    EXPECT_GT(component->GetLevel(kRemote, 9), 0);
}

// The host functions reach the microphone's thread: push-to-talk and mute
// on a running microphone, on the real clock (the timing rules themselves
// are tested on a fake one), and the figures that count them.
TEST_F(VoiceComponent, PushToTalkAndMicrophoneMuteHoldBackFramesAndAreCounted) {
    ASSERT_EQ(1, TavolinAddSyntheticMicrophone("tone", TAVOLIN_MIC_TONE, 500, -1, 0));
    ASSERT_EQ(1, TavolinSelectVoiceDevice(&engine, TAVOLIN_VOICE_MICROPHONE, "tone"));
    EXPECT_EQ(0, TavolinSetVoiceTransmitMode(&engine, 3));
    ASSERT_EQ(1, TavolinSetVoiceTransmitMode(&engine, TAVOLIN_VOICE_TRANSMIT_PUSH_TO_TALK));
    component->StartSend();
    const auto suppressed = [&] { return ControlStats(-1).framesSuppressed; };
    ASSERT_TRUE(PumpUntil([&] { return suppressed() >= 10; }, 3s));
    EXPECT_EQ(0u, sink.Count()) << "frames while the key is up";
    EXPECT_EQ(0, component->GetLevel(-1, 9));

    ASSERT_EQ(1, TavolinSetVoiceTalking(&engine, 1));
    const auto pressed = std::chrono::steady_clock::now();
    ASSERT_TRUE(PumpUntil([&] { return sink.Count() > 0; }, 1s));
    const auto firstMs =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - pressed);
    ASSERT_TRUE(PumpUntil([&] { return component->GetLevel(-1, 9) > 0; }, 1s));

    ASSERT_EQ(1, TavolinMuteVoiceMicrophone(&engine, 1));
    ASSERT_TRUE(PumpUntil([&] { return ControlStats(-1).framesMuted >= 5; }, 2s));
    size_t sent = sink.Count();
    PumpUntil([] { return false; }, 150ms);
    EXPECT_EQ(sent, sink.Count()) << "frames while muted";
    EXPECT_EQ(1, ControlStats(-1).microphoneMuted);
    ASSERT_EQ(1, TavolinMuteVoiceMicrophone(&engine, 0));
    ASSERT_TRUE(PumpUntil([&] { return sink.Count() > sent; }, 1s));

    ASSERT_EQ(1, TavolinSetVoiceTalking(&engine, 0));
    const auto released = std::chrono::steady_clock::now();
    sent = sink.Count();
    for (size_t seen = sent; PumpUntil([&] { return sink.Count() > seen; }, 200ms); seen = sink.Count()) {
    }
    const auto lastMs =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - released) - 200ms;
    std::printf("first frame %lld ms after the press, last about %lld ms after the release\n",
                static_cast<long long>(firstMs.count()), static_cast<long long>(lastMs.count()));
    // On a busy machine the threads may be late; the fake clock checks the 30 ms.
    EXPECT_LE(firstMs, 200ms);
    EXPECT_LE(lastMs, 240ms + 200ms);
    EXPECT_GE(sink.Count() - sent, 6u) << "the hold after the release";

    const TavolinVoiceControlStats local = ControlStats(-1);
    EXPECT_EQ(TAVOLIN_VOICE_TRANSMIT_PUSH_TO_TALK, local.transmitMode);
    EXPECT_EQ(sink.Count(), local.framesSent);
    EXPECT_EQ(local.framesSent, Stats(-1).framesSent);
}

// Choices are kept by user id, before a player is heard and after they left;
// a host built with a shorter struct gets only what fits.
TEST_F(VoiceComponent, TheListenersChoicesAreKeptPerUserIdAndTheFiguresFitTheHostsStruct) {
    ASSERT_EQ(1, TavolinSetVoiceUserVolume(&engine, 9, 250));
    EXPECT_EQ(200, ControlStats(9).volumePercent);
    ASSERT_EQ(1, TavolinMuteVoiceUser(&engine, kRemote, 1));
    voice::VoiceEncoder encoder;
    std::array<int16_t, voice::kFrameSamples> silence{};
    std::array<uint8_t, voice::kFrameBytes> frame{};
    ASSERT_TRUE(encoder.Encode(silence.data(), frame.data()));
    EXPECT_EQ(1, component->PlayAudio(kRemote, frame.data(), 50));
    EXPECT_EQ(1, component->RemoveUser(kRemote));
    const TavolinVoiceControlStats kept = ControlStats(kRemote);
    EXPECT_EQ(1, kept.userMuted);
    EXPECT_EQ(100, kept.volumePercent);
    TavolinVoiceControlStats unknown{};
    unknown.size = sizeof unknown;
    EXPECT_EQ(0, TavolinGetVoiceControlStats(&engine, 11, &unknown));

    TavolinVoiceControlStats shorter;
    std::memset(&shorter, 0xAB, sizeof shorter);
    shorter.size = offsetof(TavolinVoiceControlStats, framesMuted);
    ASSERT_EQ(1, TavolinGetVoiceControlStats(&engine, -1, &shorter));
    EXPECT_EQ(0u, shorter.framesSent);
    const auto* bytes = reinterpret_cast<const uint8_t*>(&shorter);
    for (size_t i = shorter.size; i < sizeof shorter; ++i) ASSERT_EQ(0xAB, bytes[i]) << "byte " << i << " written";
}

TEST_F(VoiceComponent, ABrokenOrRemovedMicrophoneIsLoggedSendsNothingAndIsUsedAgainOnceItWorks) {
    ASSERT_EQ(1, TavolinAddSyntheticMicrophone("broken", TAVOLIN_MIC_TONE, 500, -1, TAVOLIN_SYNTHETIC_FAILS_TO_START));
    ASSERT_EQ(1, TavolinSelectVoiceDevice(&engine, TAVOLIN_VOICE_MICROPHONE, "broken"));
    component->StartSend();
    ASSERT_TRUE(PumpUntil([&] { return log.Count("Voice: microphone \"broken\" failed: broken fails to start") == 1; },
                          2s));
    EXPECT_EQ(0u, sink.Count());

    ASSERT_EQ(1, TavolinAddSyntheticMicrophone("tone", TAVOLIN_MIC_TONE, 500, -1, 0));
    ASSERT_EQ(1, TavolinSelectVoiceDevice(&engine, TAVOLIN_VOICE_MICROPHONE, "tone"));
    ASSERT_TRUE(PumpUntil([&] { return sink.Count() >= 5; }, 2s));
    ASSERT_EQ(1, TavolinRemoveSyntheticAudioDevice("tone"));
    ASSERT_TRUE(PumpUntil([&] { return log.Count("Voice: microphone \"tone\" failed: tone was removed") == 1; }, 2s));
    PumpUntil([] { return false; }, 100ms);
    const size_t before = sink.Count();
    PumpUntil([] { return false; }, 300ms);
    EXPECT_EQ(before, sink.Count()) << "frames from a removed microphone";

    ASSERT_EQ(1, TavolinAddSyntheticMicrophone("tone", TAVOLIN_MIC_TONE, 500, -1, 0));
    ASSERT_TRUE(PumpUntil([&] { return log.Count("Voice: microphone \"tone\" works again") == 1; }, 3s));
    ASSERT_TRUE(PumpUntil([&] { return sink.Count() >= before + 5; }, 2s));
}

TEST_F(VoiceComponent, WithoutASpeakerItKeepsReceiving) {
    ASSERT_EQ(1, TavolinSelectVoiceDevice(&engine, TAVOLIN_VOICE_SPEAKER, "no such speaker"));
    ASSERT_TRUE(PumpUntil([&] { return log.Count("Voice: speaker \"no such speaker\" failed: no such device") == 1; },
                          2s));
    voice::VoiceEncoder encoder;
    std::array<int16_t, voice::kFrameSamples> silence{};
    std::array<uint8_t, voice::kFrameBytes> frame{};
    for (int i = 0; i < 10; ++i) {
        ASSERT_TRUE(encoder.Encode(silence.data(), frame.data()));
        component->PlayAudio(kRemote, frame.data(), 50);
        PumpUntil([] { return false; }, 30ms);
    }
    const TavolinVoiceStats stats = Stats(kRemote);
    EXPECT_EQ(10u, stats.framesReceived);
    EXPECT_GE(stats.framesPlayed, 8u);
}

}  // namespace

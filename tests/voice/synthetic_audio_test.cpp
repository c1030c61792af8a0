// A synthetic speaker's callback against the speaker's removal: once the
// removal returns, no call runs or comes, whichever thread removes it.
#include "voice/synthetic_audio.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace {
using namespace std::chrono_literals;

constexpr int kSamples = 480;

struct Ear {
    std::atomic<int> calls{0};
    std::atomic<bool> inside{false};
    bool removeItself = false;
};

void OnHeard(void* context, const int16_t*, int, int64_t) {
    auto* ear = static_cast<Ear*>(context);
    ear->inside = true;
    ++ear->calls;
    if (ear->removeItself) {
        EXPECT_EQ(1, TavolinRemoveSyntheticAudioDevice("ear"));
    } else {
        std::this_thread::sleep_for(20ms);  // a host that takes its time
    }
    ear->inside = false;
}

std::unique_ptr<voice::Speaker> StartedSpeaker(Ear& ear) {
    EXPECT_EQ(1, TavolinAddSyntheticSpeaker("ear", &OnHeard, &ear, nullptr, 0));
    auto speaker = voice::OpenSyntheticSpeaker("ear");
    std::string error;
    EXPECT_TRUE(speaker && speaker->Start(&error)) << error;
    return speaker;
}

TEST(SyntheticSpeaker, RemovalWaitsForTheCallInProgressAndEndsTheCalls) {
    Ear ear;
    auto speaker = StartedSpeaker(ear);
    ASSERT_TRUE(speaker);
    std::atomic<bool> stop{false};
    std::thread playout([&] {
        const int16_t samples[kSamples] = {};
        for (int i = 0; i < 500 && !stop; ++i) speaker->Play(samples, kSamples, 0);
    });
    const auto deadline = std::chrono::steady_clock::now() + 2s;
    while (!ear.inside && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(1ms);
    ASSERT_TRUE(ear.inside);
    EXPECT_EQ(1, TavolinRemoveSyntheticAudioDevice("ear"));
    EXPECT_FALSE(ear.inside) << "the callback still ran after its speaker's removal returned";
    const int callsAtRemoval = ear.calls;
    std::this_thread::sleep_for(50ms);
    stop = true;
    playout.join();
    EXPECT_EQ(callsAtRemoval, ear.calls) << "called after its speaker was removed";
}

TEST(SyntheticSpeaker, ACallbackMayRemoveItsOwnSpeaker) {
    Ear ear;
    ear.removeItself = true;
    auto speaker = StartedSpeaker(ear);
    ASSERT_TRUE(speaker);
    const int16_t samples[kSamples] = {};
    speaker->Play(samples, kSamples, 0);
    speaker->Play(samples, kSamples, 0);
    EXPECT_EQ(1, ear.calls);
}
}  // namespace

// A synthetic speaker's callback against the speaker's removal on another
// thread: once the removal returns, no call runs or comes.
#include "testkit/audio/synthetic_audio.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace {
using namespace std::chrono_literals;

struct Ear {
    std::atomic<int> calls{0};
    std::atomic<bool> inside{false};
};

void OnHeard(void* context, const int16_t*, int, int64_t) {
    auto* ear = static_cast<Ear*>(context);
    ear->inside = true;
    ++ear->calls;
    std::this_thread::sleep_for(20ms);  // a host that takes its time
    ear->inside = false;
}

TEST(SyntheticSpeaker, RemovalWaitsForTheCallInProgressAndEndsTheCalls) {
    Ear ear;
    ASSERT_EQ(1, TavolinAddSyntheticSpeaker("ear", &OnHeard, &ear, nullptr, 0));
    auto speaker = voice::OpenSyntheticSpeaker("ear");
    std::string error;
    ASSERT_TRUE(speaker && speaker->Start(&error)) << error;
    std::atomic<bool> stop{false};
    std::thread playout([&] {
        const int16_t samples[480] = {};
        for (int i = 0; i < 500 && !stop; ++i) speaker->Play(samples, 480, 0);
    });
    for (int i = 0; i < 2000 && !ear.inside; ++i) std::this_thread::sleep_for(1ms);
    ASSERT_TRUE(ear.inside);
    EXPECT_EQ(1, TavolinRemoveSyntheticAudioDevice("ear"));
    EXPECT_FALSE(ear.inside) << "the callback still ran after its speaker's removal returned";
    const int callsAtRemoval = ear.calls;
    std::this_thread::sleep_for(50ms);
    stop = true;
    playout.join();
    EXPECT_EQ(callsAtRemoval, ear.calls) << "called after its speaker was removed";
}
}  // namespace

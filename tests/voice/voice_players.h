// Engines on loopback for the voice tests: a player with the library's own
// voice component, an ear that records what a synthetic speaker plays, and
// pumping the engine thread until something has happened.
#pragma once

#include "testkit/signal/tone_analysis.h"

#include "tests/engine/test_host.h"
#include "tests/support/recording_log_sink.h"

#include <tavolin/tavolin.h>

#include <chrono>
#include <functional>
#include <mutex>

namespace voice_test {

inline constexpr uint32_t kLoopback = 0x7F000001;

struct Ear {
    std::mutex lock;
    voice::Recording recording;
    size_t Samples();
};

// A TavolinSpeakerCallback appending to the Ear in context.
void OnHeard(void* context, const int16_t* samples, int count, int64_t micros);

class Player {
public:
    Player(int id, uint16_t serverPort);
    ~Player();
    void Meet(Player& other);
    void Talk();
    TavolinVoiceStats StatsOf(int userId);

    ITavolinEngine* engine = nullptr;
    testing_support::TestEventSink host;
    testing_support::RecordingLogSink voiceLog;
    testing_support::TestView view;

private:
    int id_;
};

bool PumpUntil(const std::function<bool()>& done, std::chrono::milliseconds limit);
void PumpFor(std::chrono::milliseconds time);
// Sessions take peers' packets once they know their own public address.
bool KnowTheirAddresses(Player& a, Player& b);

}  // namespace voice_test

// Whether and how well a listener heard a speaker: mouth-to-ear latency from
// the speaker's markers, the speaker's tone in the listener's mix, and the
// engine's counters of that speaker's frames.
#pragma once

#include "testbed/measurement/heard_sound.h"

#include <tavolin/tavolin.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace room {

struct VoicePair {
    int listener = 0;
    int speaker = 0;
    uint64_t received = 0;
    uint64_t lost = 0;
    uint64_t concealed = 0;
    uint64_t late = 0;
    uint64_t skipped = 0;
    int jitterDelayMs = 0;
    std::optional<double> latencyMedianMs;
    std::optional<double> latencyP99Ms;
    double toneSnrDb = 0;
    bool heard = false;
};

struct VoiceReport {
    std::vector<VoicePair> pairs;
    bool EveryListenerHeardEverySpeaker() const;
};

// How many samples of the beginning of what a listener heard the judgement
// reads (HeardSound keeps that many whole).
size_t HeardSamplesJudged();

// After the listener's sound ended. `otherTonesHz` are the tones of the
// room's other speakers, taken out of the mix first; `counters` are the
// engine's for that speaker, null when it had none.
VoicePair JudgeVoice(int listener, const MarkedSpeaker& speaker, const std::vector<double>& otherTonesHz,
                     const HeardSound& heard, const TavolinVoiceStats* counters);

}  // namespace room

// Whether and how well a listener heard a speaker: mouth-to-ear latency from
// the speaker's markers, the speaker's tone in the listener's mix, and the
// engine's counters of that speaker's frames.
#pragma once

#include "testbed/measurement/heard_sound.h"

#include <tavolin/tavolin.h>

#include <cstddef>
#include <cstdint>
#include <map>
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
    std::optional<double> latencyP95Ms;
    std::optional<double> latencyP99Ms;
    // Of the markers from 5 s on, once a start-up has passed.
    std::optional<double> settledLatencyP95Ms;
    double toneSnrDb = 0;
    double levelDbfs = -100;  // the speaker's tone in the listener's mix (RMS) where heard
    int talkWindows = 0;      // speakers who talk now and then: windows the tone stood out in
    bool heard = false;
    // What the listener chose and its component did, and what the speaker
    // sent (when it runs in this process; -1 otherwise).
    bool muted = false;
    int volumePercent = 100;
    double levellingGainDb = 0;
    int64_t speakerFramesSent = -1;
    int64_t speakerFramesCoded = -1;  // sent, suppressed by the transmit mode or muted

    // A muted speaker is expected unheard, any other heard.
    bool AsExpected() const { return heard != muted; }
    double TalkingSeconds() const { return speakerFramesSent < 0 ? -1 : speakerFramesSent * 0.030; }
    // Of what the speaker's microphone gave while its voice was on.
    double SharePercentSent() const {
        return speakerFramesCoded <= 0 ? -1 : 100.0 * static_cast<double>(speakerFramesSent) / speakerFramesCoded;
    }
};

struct VoiceReport {
    std::vector<VoicePair> pairs;
    bool EveryPairAsExpected() const;
};

// How a speaker is judged: one who talks now and then (voice activity,
// push-to-talk) is heard when its tone stood out in enough short windows,
// one who talks all the time in a share of half-second windows.
struct Expectation {
    bool intermittent = false;
    bool muted = false;
};

// What a listener heard of each speaker who talks now and then: the 60 ms
// windows of the sound's beginning in which the speaker's tone stood out,
// and its level in them.
struct TalkFigures {
    int windows = 0;
    double levelDbfs = -100;
};
std::map<int, TalkFigures> FindTalk(const HeardSound& heard, const std::vector<MarkedSpeaker>& speakers);

// How many samples of the beginning of what a listener heard the judgement
// reads (HeardSound keeps that many whole).
size_t HeardSamplesJudged();

// After the listener's sound ended. `otherTonesHz` are the tones of the
// room's other speakers, taken out of the mix first; `counters` are the
// engine's for that speaker, null when it had none.
// `talk` is what FindTalk found of the speaker, for intermittent speakers.
VoicePair JudgeVoice(int listener, const MarkedSpeaker& speaker, const std::vector<double>& otherTonesHz,
                     const HeardSound& heard, const TavolinVoiceStats* counters, const Expectation& expectation,
                     const TalkFigures& talk);

}  // namespace room

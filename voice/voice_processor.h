// What a sound device's microphone hears goes through this before it is
// coded: echo cancellation against what the speaker really played (as much
// of the canceller's estimate as the microphone is found to hold), then
// noise suppression and residual echo suppression (the speex preprocessor);
// no gain control, which would raise the echo with the voice. The two sides
// are matched by time: the playout side says when each sample is heard,
// the capture side when each sample was captured, both CLOCK_MONOTONIC.
#pragma once

#include "voice/audio_device.h"

#include <array>
#include <cstdint>
#include <functional>
#include <mutex>
#include <vector>

struct SpeexEchoState_;
struct SpeexPreprocessState_;

namespace voice {

// Processing works on 10 ms blocks.
inline constexpr int kProcessingBlockSamples = 160;
// The canceller's filter covers 80 ms of echo path, counted from
// kReferenceLeadMicros ahead of the capture time: echoes up to 70 ms late,
// and a latency error of 10 ms the other way. A longer filter learns more
// slowly: at 128 ms, a call in double talk through a sound server was still
// learning its echo 10 s in, and now and then never did.
inline constexpr int kEchoTailSamples = 1280;
inline constexpr int64_t kReferenceLeadMicros = 10000;

class VoiceProcessor {
public:
    using Output = std::function<void(const int16_t* samples, int count)>;

    VoiceProcessor();
    ~VoiceProcessor();
    VoiceProcessor(const VoiceProcessor&) = delete;
    VoiceProcessor& operator=(const VoiceProcessor&) = delete;

    // Playout thread: sound given to the speaker, and what it made of it.
    void Played(const int16_t* samples, int count, const Playing& playing);
    // Microphone thread: captured sound, its first sample captured at
    // capturedMicros; processed sound goes to `out` in whole blocks.
    void Captured(const int16_t* samples, int count, int64_t capturedMicros, const Output& out);
    // A new microphone: the echo path and the noise are learned afresh.
    void Restart();

private:
    void ProcessBlock(int64_t firstSample, const Output& out);
    // How much of the canceller's echo estimate the microphone really holds
    // (0..1), from this block and the ones before.
    double EchoShare(const int16_t* captured, const int16_t* estimate);
    void Reference(int64_t firstSample, int16_t* out);

    // One side's sound, numbered by samples on the monotonic clock.
    struct Timeline {
        int64_t next = 0;  // the sample after the last one
        // How far the side's last reported time was from where its sound
        // continued.
        int64_t straying = 0;
        bool started = false;
    };
    // Where the sound from reportedSample on goes on `side`'s timeline.
    static int64_t Continue(int64_t reportedSample, int count, Timeline* side, const Timeline& other);

    // What was played, by its sample number (1 s), and both timelines.
    static constexpr int kHistorySamples = 16000;
    std::mutex playedLock_;
    std::vector<int16_t> played_;
    std::vector<int64_t> playedAt_;
    Timeline playedTimeline_, capturedTimeline_;

    // Microphone thread.
    SpeexEchoState_* echo_ = nullptr;
    SpeexPreprocessState_* preprocess_ = nullptr;
    std::array<int16_t, kProcessingBlockSamples> block_{};
    int blockCount_ = 0;
    int64_t blockStart_ = 0;  // sample number of block_[0]
    // Smoothed correlation of the echo estimate with the microphone, and its power.
    double estimateInCapture_ = 0;
    double estimatePower_ = 0;
};

}  // namespace voice

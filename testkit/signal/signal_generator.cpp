#include "testkit/signal/signal_generator.h"

#include "testkit/signal/test_signal.h"
#include "voice/codec/voice_frame.h"

#include <tavolin/tavolin.h>

#include <cmath>
#include <numbers>

namespace voice {
namespace {

constexpr double kToneAmplitude = 2065;  // -24 dBFS: sixteen voices mix without clipping
constexpr double kMarkerGain = 4;        // the marker stands 12 dB above the signal
constexpr int64_t kMicrosPerSecond = 1000000;
// Speech-like bursts ("syllables") and pauses, in samples.
constexpr int kBurstMin = kSampleRateHz * 120 / 1000;
constexpr int kBurstSpread = kSampleRateHz * 280 / 1000;
constexpr int kPauseMin = kSampleRateHz * 80 / 1000;
constexpr int kPauseSpread = kSampleRateHz * 520 / 1000;
// A conversation's turns of speech and the silences after them, in samples.
constexpr int kTurnMin = kSampleRateHz * 800 / 1000;
constexpr int kTurnSpread = kSampleRateHz * 1600 / 1000;
constexpr int kSilenceMin = kSampleRateHz * 2;
constexpr int kSilenceSpread = kSampleRateHz * 4;

}  // namespace

SignalGenerator::SignalGenerator(int signal, int frequencyHz, int markerOffsetMs)
    : signal_(signal),
      frequencyHz_(frequencyHz),
      markerOffsetMs_(markerOffsetMs),
      random_(static_cast<uint32_t>(frequencyHz) * 2654435761u + 1) {
    if (signal_ == TAVOLIN_MIC_CONVERSATION) turnSamplesLeft_ = Random(kSilenceMin + kSilenceSpread);
}

void SignalGenerator::Generate(int16_t* out, int count, int64_t monotonicMicros) {
    const double step = 2 * std::numbers::pi * frequencyHz_ / kSampleRateHz;
    for (int i = 0; i < count; ++i) {
        const int64_t micros = monotonicMicros + i * kMicrosPerSecond / kSampleRateHz;
        const int64_t sinceMarker = (micros - markerOffsetMs_ * int64_t{1000}) % kMicrosPerSecond;
        const bool marker = markerOffsetMs_ >= 0 && sinceMarker >= 0 && sinceMarker < kMarkerMicros;
        double value = std::sin(phase_);
        if (signal_ == TAVOLIN_MIC_SPEECH)
            value = (std::sin(phase_) + 0.5 * std::sin(2 * phase_) + 0.25 * std::sin(3 * phase_)) / 1.75 * Envelope();
        else if (signal_ == TAVOLIN_MIC_CONVERSATION)
            value *= TurnEnvelope();
        phase_ = std::fmod(phase_ + step, 2 * std::numbers::pi);
        out[i] = static_cast<int16_t>(std::lround(value * kToneAmplitude * (marker ? kMarkerGain : 1)));
    }
}

uint32_t SignalGenerator::Random(uint32_t spread) {
    random_ = random_ * 1664525u + 1013904223u;
    return (random_ >> 8) % spread;
}

// Bursts with soft edges and random lengths, pauses between them.
double SignalGenerator::Envelope() {
    if (envelopeSamplesLeft_ <= 0) {
        speaking_ = !speaking_;
        envelopeSamplesLeft_ = speaking_ ? kBurstMin + Random(kBurstSpread) : kPauseMin + Random(kPauseSpread);
        burstLength_ = envelopeSamplesLeft_;
    }
    --envelopeSamplesLeft_;
    if (!speaking_) return 0;
    const double position = 1.0 - static_cast<double>(envelopeSamplesLeft_) / burstLength_;
    return std::sin(std::numbers::pi * position);
}

// Turns of bursts, each ended by the first pause after its time is up, and
// silences between them.
double SignalGenerator::TurnEnvelope() {
    --turnSamplesLeft_;
    if (!inTurn_) {
        if (turnSamplesLeft_ > 0) return 0;
        inTurn_ = true;
        turnSamplesLeft_ = kTurnMin + Random(kTurnSpread);
        speaking_ = false;
        envelopeSamplesLeft_ = 0;
    } else if (turnSamplesLeft_ <= 0 && !speaking_) {
        inTurn_ = false;
        turnSamplesLeft_ = kSilenceMin + Random(kSilenceSpread);
        return 0;
    }
    return Envelope();
}

}  // namespace voice

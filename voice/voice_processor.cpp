#include "voice/voice_processor.h"

#include "voice/codec/voice_frame.h"

#include <speex/speex_echo.h>
#include <speex/speex_preprocess.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace voice {

namespace {
constexpr int64_t kMicrosPerSecond = 1000000;

// Time jumps shorter than this are a device's jitter, not a gap in the sound.
constexpr int64_t kResyncSamples = kSampleRateHz / 50;  // 20 ms

// The echo share follows over about 200 ms (20 blocks).
constexpr double kEchoShareSmoothing = 0.05;
// An estimate below -60 dBFS (per sample, summed over a block) is silence.
constexpr double kSilentEstimatePower = 33.0 * 33.0 * kProcessingBlockSamples;

int64_t SampleAt(int64_t micros) { return micros * kSampleRateHz / kMicrosPerSecond; }
}  // namespace

VoiceProcessor::VoiceProcessor() : played_(kHistorySamples, 0), playedAt_(kHistorySamples, -1) { Restart(); }

VoiceProcessor::~VoiceProcessor() {
    if (preprocess_) speex_preprocess_state_destroy(preprocess_);
    if (echo_) speex_echo_state_destroy(echo_);
}

void VoiceProcessor::Restart() {
    if (preprocess_) speex_preprocess_state_destroy(preprocess_);
    if (echo_) speex_echo_state_destroy(echo_);
    echo_ = speex_echo_state_init(kProcessingBlockSamples, kEchoTailSamples);
    int rate = kSampleRateHz;
    speex_echo_ctl(echo_, SPEEX_ECHO_SET_SAMPLING_RATE, &rate);
    preprocess_ = speex_preprocess_state_init(kProcessingBlockSamples, kSampleRateHz);
    int on = 1, off = 0;
    speex_preprocess_ctl(preprocess_, SPEEX_PREPROCESS_SET_DENOISE, &on);
    speex_preprocess_ctl(preprocess_, SPEEX_PREPROCESS_SET_AGC, &off);
    speex_preprocess_ctl(preprocess_, SPEEX_PREPROCESS_SET_DEREVERB, &off);
    speex_preprocess_ctl(preprocess_, SPEEX_PREPROCESS_SET_ECHO_STATE, echo_);
    blockCount_ = 0;
    estimateInCapture_ = estimatePower_ = 0;
}

// Devices' times jitter by a few ms from one piece of sound to the next, but
// the sound itself is continuous: a time near where the last piece ended is
// taken to be that end.
int64_t Continue(int64_t sample, int64_t* expected) {
    if (std::abs(sample - *expected) < kResyncSamples) sample = *expected;
    return sample;
}

void VoiceProcessor::Played(const int16_t* samples, int count, int64_t heardMicros) {
    std::lock_guard lock(playedLock_);
    const int64_t first = Continue(SampleAt(heardMicros), &nextPlayed_);
    nextPlayed_ = first + count;
    for (int i = 0; i < count; ++i) {
        const int64_t at = first + i;
        const size_t slot = static_cast<size_t>(at % kHistorySamples);
        played_[slot] = samples[i];
        playedAt_[slot] = at;
    }
}

void VoiceProcessor::Captured(const int16_t* samples, int count, int64_t capturedMicros, const Output& out) {
    const int64_t first = Continue(SampleAt(capturedMicros), &nextCaptured_);
    nextCaptured_ = first + count;
    for (int i = 0; i < count; ++i) {
        if (blockCount_ == 0) blockStart_ = first + i;
        block_[static_cast<size_t>(blockCount_++)] = samples[i];
        if (blockCount_ < kProcessingBlockSamples) continue;
        blockCount_ = 0;
        ProcessBlock(blockStart_, out);
    }
}

double VoiceProcessor::EchoShare(const int16_t* captured, const int16_t* estimate) {
    double inCapture = 0, power = 0;
    for (int i = 0; i < kProcessingBlockSamples; ++i) {
        inCapture += double(captured[i]) * estimate[i];
        power += double(estimate[i]) * estimate[i];
    }
    estimateInCapture_ += kEchoShareSmoothing * (inCapture - estimateInCapture_);
    estimatePower_ += kEchoShareSmoothing * (power - estimatePower_);
    if (estimatePower_ <= kSilentEstimatePower) return 1;
    return std::clamp(estimateInCapture_ / estimatePower_, 0.0, 1.0);
}

// What was played from that sample on; silence where nothing was.
void VoiceProcessor::Reference(int64_t firstSample, int16_t* out) {
    std::lock_guard lock(playedLock_);
    for (int i = 0; i < kProcessingBlockSamples; ++i) {
        const int64_t at = firstSample + i;
        const size_t slot = static_cast<size_t>(at % kHistorySamples);
        out[i] = playedAt_[slot] == at ? played_[slot] : 0;
    }
}

void VoiceProcessor::ProcessBlock(int64_t firstSample, const Output& out) {
    std::array<int16_t, kProcessingBlockSamples> reference, cleaned;
    Reference(firstSample + SampleAt(kReferenceLeadMicros), reference.data());
    speex_echo_cancellation(echo_, block_.data(), reference.data(), cleaned.data());
    // A filter that adapts while the microphone hears no echo (a headset,
    // or the near end talking) learns an echo that is not there, and taking
    // it away would add the far end's voice, inverted, to the near end's:
    // only the share of the estimate the microphone holds is taken away.
    std::array<int16_t, kProcessingBlockSamples> estimate;
    for (int i = 0; i < kProcessingBlockSamples; ++i)
        estimate[i] = static_cast<int16_t>(std::clamp(block_[i] - cleaned[i], -32768, 32767));
    const double share = EchoShare(block_.data(), estimate.data());
    double before = 0, after = 0;
    for (int i = 0; i < kProcessingBlockSamples; ++i) {
        cleaned[i] =
            static_cast<int16_t>(std::clamp<long>(std::lround(block_[i] - share * estimate[i]), -32768, 32767));
        before += double(block_[i]) * block_[i];
        after += double(cleaned[i]) * cleaned[i];
    }
    // Cancelling never makes a block louder than the microphone heard it.
    if (after > before) cleaned = block_;
    speex_preprocess_run(preprocess_, cleaned.data());
    out(cleaned.data(), kProcessingBlockSamples);
}

}  // namespace voice

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
    std::lock_guard lock(playedLock_);
    capturedTimeline_ = {};
}

// A device's sound is continuous, but the times reported for it wander: they
// jitter by a few ms, and the sound server's latency estimates drift by a
// couple of ms per second against the sound itself, on the playing and the
// capturing side alike. A reported time is taken as the continuation of its
// side's sound unless it strays from it by much more than the other side's
// times stray from theirs: only then did that side's sound really jump (an
// underrun, frames dropped, a new device), and its timeline follows, into the
// other side's frame. Each side resynchronising on its own would shift the
// echo against the reference by up to kResyncSamples every few seconds, each
// time undoing what the canceller had learned.
int64_t VoiceProcessor::Continue(int64_t reportedSample, int count, Timeline* side, const Timeline& other) {
    int64_t first = side->next;
    if (!side->started || std::abs(reportedSample - first - other.straying) >= kResyncSamples)
        first = reportedSample - other.straying;
    side->straying = reportedSample - first;
    side->next = first + count;
    side->started = true;
    return first;
}

void VoiceProcessor::Played(const int16_t* samples, int count, const Playing& playing) {
    const int written = playing.silence + std::max(0, count - playing.skipped);
    if (written == 0) return;
    std::lock_guard lock(playedLock_);
    // Sound that ran out before this is no continuation of it.
    if (playing.resumed) playedTimeline_.started = false;
    const int64_t first = Continue(SampleAt(playing.heardMicros), written, &playedTimeline_, capturedTimeline_);
    for (int i = 0; i < written; ++i) {
        const int64_t at = first + i;
        const size_t slot = static_cast<size_t>(at % kHistorySamples);
        played_[slot] = i < playing.silence ? 0 : samples[playing.skipped + i - playing.silence];
        playedAt_[slot] = at;
    }
}

void VoiceProcessor::Captured(const int16_t* samples, int count, int64_t capturedMicros, const Output& out) {
    int64_t first = 0;
    {
        std::lock_guard lock(playedLock_);
        first = Continue(SampleAt(capturedMicros), count, &capturedTimeline_, playedTimeline_);
    }
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

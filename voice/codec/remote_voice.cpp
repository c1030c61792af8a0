#include "voice/codec/remote_voice.h"

#include <opus/opus.h>

#include <algorithm>

namespace voice {

RemoteVoice::RemoteVoice() {
    int error = OPUS_OK;
    decoder_ = opus_decoder_create(kSampleRateHz, 1, &error);
    if (error != OPUS_OK) decoder_ = nullptr;
}

RemoteVoice::~RemoteVoice() {
    if (decoder_) opus_decoder_destroy(decoder_);
}

void RemoteVoice::Receive(const FrameView& frame, int64_t nowMs) {
    switch (buffer_.Push(frame.sequence, frame.opus, nowMs)) {
        case Arrival::kAccepted: ++counters_.received; break;
        case Arrival::kLate: ++counters_.late; break;
        case Arrival::kDuplicate: ++counters_.duplicate; break;
    }
}

bool RemoteVoice::Render(int64_t nowMs, int16_t* pcm) {
    const Playout out = buffer_.Pop(nowMs);
    if (out.skipped) ++counters_.skipped;
    if (out.kind != PlayoutKind::kStretch) waits_ = 0;
    bool sound = false;
    switch (out.kind) {
        case PlayoutKind::kFrame:
            ++counters_.played;
            sound = Decode(out.packet, false, pcm);
            break;
        case PlayoutKind::kLost:
            ++counters_.lost;
            ++counters_.concealed;
            // With the next frame at hand its redundant copy rebuilds the end
            // of the lost one (Opus conceals the rest, or all of it when the
            // next frame carries no redundancy).
            sound = Decode(out.next, out.next != nullptr, pcm);
            break;
        case PlayoutKind::kStretch:
            ++counters_.concealed;
            sound = Wait(pcm);
            break;
        case PlayoutKind::kQuiet: break;
    }
    if (sound && silent_) FadeIn(pcm);
    silent_ = !sound;
    return sound;
}

void RemoteVoice::Pass(int64_t nowMs) {
    const Playout out = buffer_.Pop(nowMs);
    if (out.skipped) ++counters_.skipped;
    if (out.kind == PlayoutKind::kFrame) ++counters_.notDecoded;
    if (out.kind == PlayoutKind::kLost) ++counters_.lost;
    waits_ = 0;
    silent_ = true;
}

// The decoder conceals every wait, so that a frame that comes after all
// continues from where its sound left off; the listener hears the first
// waits only.
bool RemoteVoice::Wait(int16_t* pcm) {
    const bool sound = Decode(nullptr, false, pcm);
    ++waits_;
    if (!sound || waits_ <= kFullLevelWaits) return sound;
    if (waits_ > kFullLevelWaits + 1) {
        std::fill_n(pcm, kFrameSamples, int16_t{0});
        return false;
    }
    for (int i = 0; i < kFrameSamples; ++i)
        pcm[i] = static_cast<int16_t>(pcm[i] * (kFrameSamples - 1 - i) / (kFrameSamples - 1));
    return true;
}

void RemoteVoice::FadeIn(int16_t* pcm) {
    for (int i = 0; i < kFadeInSamples; ++i) pcm[i] = static_cast<int16_t>(pcm[i] * i / kFadeInSamples);
}

bool RemoteVoice::Decode(const uint8_t* packet, bool fec, int16_t* pcm) {
    if (!decoder_) return false;
    const int samples = opus_decode(decoder_, packet, packet ? static_cast<opus_int32>(kOpusPacketBytes) : 0, pcm,
                                    kFrameSamples, fec ? 1 : 0);
    if (samples != kFrameSamples) {
        std::fill_n(pcm, kFrameSamples, int16_t{0});
        return false;
    }
    return true;
}

}  // namespace voice

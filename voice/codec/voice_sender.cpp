#include "voice/codec/voice_sender.h"

#include <algorithm>

namespace voice {

void VoiceSender::Frame(const int16_t* pcm, const SenderControls& controls, const Send& send) {
    std::array<uint8_t, kFrameBytes> frame;
    if (!encoder_.Encode(pcm, frame.data())) return;
    const bool speech = detector_.IsSpeech(pcm, kFrameSamples);
    if (controls.muted) {
        // Nothing said while muted goes out, not even as pre-roll.
        DropHeldBack();
        gate_.Close();
        ++counters_.muted;
        level_.Add(nullptr, 0);
        return;
    }
    const GateDecision decision = gate_.Next({controls.mode, speech, controls.keyDown});
    if (!decision.send) {
        HoldBack(frame.data());
        level_.Add(nullptr, 0);
        return;
    }
    if (decision.withPreRoll)
        SendHeldBack(send);
    else
        DropHeldBack();
    send(frame.data());
    ++counters_.sent;
    level_.Add(pcm, kFrameSamples);
}

void VoiceSender::Restart() {
    DropHeldBack();
    gate_.Close();
    detector_.Restart();
}

void VoiceSender::HoldBack(const uint8_t* frame) {
    if (heldBackCount_ == kPreRollFrames) {
        std::rotate(heldBack_.begin(), heldBack_.begin() + 1, heldBack_.end());
        --heldBackCount_;
        ++counters_.suppressed;
    }
    std::copy_n(frame, kFrameBytes, heldBack_[static_cast<size_t>(heldBackCount_++)].begin());
}

void VoiceSender::SendHeldBack(const Send& send) {
    for (int i = 0; i < heldBackCount_; ++i) send(heldBack_[static_cast<size_t>(i)].data());
    counters_.sent += static_cast<uint64_t>(heldBackCount_);
    heldBackCount_ = 0;
}

void VoiceSender::DropHeldBack() {
    counters_.suppressed += static_cast<uint64_t>(heldBackCount_);
    heldBackCount_ = 0;
}

}  // namespace voice

// The microphone's 30 ms frames on their way out: each is coded, so that
// the sequence numbers keep counting time across what is held back, then
// let through or held back by the transmit mode and the microphone's mute.
// Each frame ends as exactly one of sent, suppressed (by the transmit mode)
// or muted; a frame held back may still go out as pre-roll, and counts as
// suppressed once it no longer can.
#pragma once

#include "voice/codec/level_meter.h"
#include "voice/codec/transmit_gate.h"
#include "voice/codec/voice_activity.h"
#include "voice/codec/voice_encoder.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>

namespace voice {

struct SenderControls {
    TransmitMode mode = TransmitMode::kAlways;
    bool keyDown = false;
    bool muted = false;
};

struct SenderCounters {
    std::atomic<uint64_t> sent{0};
    std::atomic<uint64_t> suppressed{0};
    std::atomic<uint64_t> muted{0};
};

class VoiceSender {
public:
    // Called with each 50-byte frame that goes out, in sequence order.
    using Send = std::function<void(const uint8_t* frame)>;

    // One frame of kFrameSamples samples.
    void Frame(const int16_t* pcm, const SenderControls& controls, const Send& send);
    // A new microphone: its background is learned afresh; what was held back is dropped.
    void Restart();

    // Of what went out: silence while held back. Read from any thread.
    const LevelMeter& Level() const { return level_; }
    const SenderCounters& Counters() const { return counters_; }

private:
    void HoldBack(const uint8_t* frame);
    void SendHeldBack(const Send& send);
    void DropHeldBack();

    VoiceEncoder encoder_;
    VoiceActivityDetector detector_;
    TransmitGate gate_;
    // The latest frames held back, oldest first: the pre-roll.
    std::array<std::array<uint8_t, kFrameBytes>, kPreRollFrames> heldBack_{};
    int heldBackCount_ = 0;
    LevelMeter level_;
    SenderCounters counters_;
};

}  // namespace voice

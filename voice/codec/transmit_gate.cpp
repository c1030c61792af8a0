#include "voice/codec/transmit_gate.h"

namespace voice {

GateDecision TransmitGate::Next(const GateInput& input) {
    bool triggered = true;
    int hold = 0;
    switch (input.mode) {
        case TransmitMode::kAlways: break;
        case TransmitMode::kVoiceActivity:
            triggered = input.speech;
            hold = kVoiceActivityHoldFrames;
            break;
        case TransmitMode::kPushToTalk:
            triggered = input.keyDown;
            hold = kPushToTalkHoldFrames;
            break;
    }
    if (triggered) {
        // What was said before the key went down stays unsent.
        const bool withPreRoll = !open_ && input.mode == TransmitMode::kVoiceActivity;
        open_ = true;
        holdLeft_ = hold;
        return {true, withPreRoll};
    }
    if (holdLeft_ > 0) {
        --holdLeft_;
        return {true, false};
    }
    open_ = false;
    return {};
}

}  // namespace voice

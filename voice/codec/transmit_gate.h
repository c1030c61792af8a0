// When the microphone's frames go out: always, while the player speaks
// (with a hold that bridges the pauses between words and a pre-roll of the
// frames just before speech, which carry a syllable's soft start), or while
// the push-to-talk key is down (with a shorter hold for the word being
// finished as the key comes up). Counted in frames, one decision per frame.
#pragma once

#include <cstdint>

namespace voice {

// The values of TAVOLIN_VOICE_TRANSMIT_*.
enum class TransmitMode { kAlways = 0, kVoiceActivity = 1, kPushToTalk = 2 };

inline constexpr int kVoiceActivityHoldFrames = 17;  // 510 ms after the last speech
inline constexpr int kPushToTalkHoldFrames = 8;      // 240 ms after the key came up
inline constexpr int kPreRollFrames = 2;             // 60 ms before speech

struct GateInput {
    TransmitMode mode = TransmitMode::kAlways;
    bool speech = false;   // the voice activity detector's verdict on this frame
    bool keyDown = false;  // the push-to-talk key
};

struct GateDecision {
    bool send = false;
    bool withPreRoll = false;  // the frames held back just before this one go first
};

class TransmitGate {
public:
    GateDecision Next(const GateInput& input);
    void Close() { holdLeft_ = 0, open_ = false; }

private:
    int holdLeft_ = 0;
    bool open_ = false;
};

}  // namespace voice

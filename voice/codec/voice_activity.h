// Whether a 30 ms frame of the microphone holds speech: its loudness against
// a floor that follows the background. The floor drops at once to a quieter
// frame and creeps up slowly, so pauses between words keep it at the room's
// noise while a steady sound (a fan, a hum) is taken for background within
// seconds. Frame by frame and without memory of its decisions: the hold
// after speech belongs to the transmit gate.
#pragma once

#include <cstdint>

namespace voice {

// Speech stands this far above the background floor...
inline constexpr double kSpeechAboveFloorDb = 12.0;
// ...and above this, however quiet the room (digital silence has no floor).
inline constexpr double kQuietestFloorDbfs = -70.0;
// How fast the floor rises towards louder frames: 3.3 dB a second.
inline constexpr double kFloorRiseDbPerFrame = 0.1;

class VoiceActivityDetector {
public:
    bool IsSpeech(const int16_t* samples, int count);
    void Restart() { floorDbfs_ = kQuietestFloorDbfs; }
    double FloorDbfs() const { return floorDbfs_; }

private:
    double floorDbfs_ = kQuietestFloorDbfs;
};

}  // namespace voice

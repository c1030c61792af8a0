#include "voice/codec/voice_activity.h"

#include "voice/codec/level_meter.h"

#include <algorithm>

namespace voice {

bool VoiceActivityDetector::IsSpeech(const int16_t* samples, int count) {
    const double level = FrameLevelDbfs(samples, count);
    const bool speech = level > floorDbfs_ + kSpeechAboveFloorDb;
    floorDbfs_ = std::max(kQuietestFloorDbfs, std::min(level, floorDbfs_ + kFloorRiseDbPerFrame));
    return speech;
}

}  // namespace voice

// The gain that brings one remote voice towards a common speech level on
// its way into the mix. The voice's level is the mean energy of its latest
// second of speech; frames below a gate are pauses and change nothing. A
// voice louder than the target is cut as soon as its level shows it, so
// that loud players do not overrun the mix; a quieter one is
// raised slowly, and by at most kMaxBoostDb, so that pauses and noise are
// never pumped up. A single frame may stand at most kFrameHeadroomDb above
// the target: louder, it is cut in that very frame (the mix is still to
// come, so the cut needs no look-ahead).
#pragma once

#include <array>
#include <cstdint>

namespace voice {

// A synthetic microphone's tone (-24 dBFS peak) arrives as it is: sixteen
// voices at this level mix without clipping.
inline constexpr double kLevellingTargetDbfs = -27.0;
inline constexpr double kMaxBoostDb = 12.0;
inline constexpr double kFrameHeadroomDb = 9.0;
inline constexpr double kBoostDbPerFrame = 0.1;  // 3.3 dB a second
inline constexpr double kSpeechGateDbfs = -50.0;
inline constexpr int kLevelWindowFrames = 32;  // about a second of speech

class VoiceLeveller {
public:
    // The gain in dB for this decoded frame of kFrameSamples samples.
    double Update(const int16_t* pcm, int count);
    double GainDb() const { return gainDb_; }

private:
    std::array<double, kLevelWindowFrames> energies_{};  // mean square per speech frame
    int filled_ = 0;
    int next_ = 0;
    double gainDb_ = 0;
};

}  // namespace voice

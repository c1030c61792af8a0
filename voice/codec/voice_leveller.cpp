#include "voice/codec/voice_leveller.h"

#include "voice/codec/level_meter.h"

#include <algorithm>
#include <cmath>
#include <numeric>

namespace voice {

double VoiceLeveller::Update(const int16_t* pcm, int count) {
    const double frameDbfs = FrameLevelDbfs(pcm, count);
    if (frameDbfs < kSpeechGateDbfs) return gainDb_;
    energies_[static_cast<size_t>(next_)] = std::pow(10.0, frameDbfs / 10);
    next_ = (next_ + 1) % kLevelWindowFrames;
    filled_ = std::min(filled_ + 1, kLevelWindowFrames);
    const double mean = std::accumulate(energies_.begin(), energies_.begin() + filled_, 0.0) / filled_;
    const double wanted = std::min({kMaxBoostDb, kLevellingTargetDbfs - 10 * std::log10(mean),
                                    kLevellingTargetDbfs + kFrameHeadroomDb - frameDbfs});
    gainDb_ = std::min(wanted, gainDb_ + kBoostDbPerFrame);
    return gainDb_;
}

}  // namespace voice

#include "voice/codec/mix_channel.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>

namespace voice {

bool MixChannel::MixInto(int64_t nowMs, const ListenerChoice& choice, bool levelling, int32_t* sum) {
    std::array<int16_t, kFrameSamples> pcm;
    const bool sound = !choice.muted && voice_.Render(nowMs, pcm.data());
    if (choice.muted) voice_.Pass(nowMs);
    if (!sound) {
        heard_.Add(nullptr, 0);
        return false;
    }
    levellingGainDb_ = levelling ? leveller_.Update(pcm.data(), kFrameSamples) : 0;
    const double gain = std::pow(10.0, levellingGainDb_ / 20) * choice.volumePercent / 100;
    constexpr int32_t kLow = std::numeric_limits<int16_t>::min();
    constexpr int32_t kHigh = std::numeric_limits<int16_t>::max();
    for (int i = 0; i < kFrameSamples; ++i) {
        const double g = i < kGainRampSamples ? gain_ + (gain - gain_) * (i + 1) / kGainRampSamples : gain;
        const int32_t value = static_cast<int32_t>(std::lround(pcm[static_cast<size_t>(i)] * g));
        sum[i] += value;
        pcm[static_cast<size_t>(i)] = static_cast<int16_t>(std::clamp(value, kLow, kHigh));
    }
    gain_ = gain;
    heard_.Add(pcm.data(), kFrameSamples);
    ++framesHeard_;
    return true;
}

}  // namespace voice

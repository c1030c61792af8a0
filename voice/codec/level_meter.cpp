#include "voice/codec/level_meter.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace voice {

namespace {
constexpr int kSilentCentiDb = kLevelFloorDb * 100;
constexpr double kFullScale = 32768.0;
}  // namespace

LevelMeter::LevelMeter() {
    for (auto& value : centiDb_) value.store(kSilentCentiDb, std::memory_order_relaxed);
}

double FrameLevelDbfs(const int16_t* samples, int count) {
    double energy = 0;
    for (int i = 0; i < count; ++i) energy += static_cast<double>(samples[i]) * samples[i];
    if (count <= 0 || energy <= 0) return kSilenceDbfs;
    return std::max(kSilenceDbfs, 10 * std::log10(energy / count / (kFullScale * kFullScale)));
}

void LevelMeter::Add(const int16_t* samples, int count) {
    const int centiDb = std::max(kSilentCentiDb, static_cast<int>(std::lround(100 * FrameLevelDbfs(samples, count))));
    const unsigned slot = next_.fetch_add(1, std::memory_order_relaxed) % kLevelFrames;
    centiDb_[static_cast<size_t>(slot)].store(centiDb, std::memory_order_relaxed);
}

int LevelMeter::Level(int scale) const {
    if (scale <= 0) return 0;
    int loudest = kSilentCentiDb;
    for (const auto& value : centiDb_) loudest = std::max(loudest, value.load(std::memory_order_relaxed));
    const double fraction = (loudest - kSilentCentiDb) / (-kSilentCentiDb * 1.0);
    return std::clamp(static_cast<int>(std::lround(fraction * scale)), 0, scale);
}

void MixSaturating(const int32_t* sum, int16_t* out, int count) {
    constexpr int32_t kLow = std::numeric_limits<int16_t>::min();
    constexpr int32_t kHigh = std::numeric_limits<int16_t>::max();
    for (int i = 0; i < count; ++i) out[i] = static_cast<int16_t>(std::clamp(sum[i], kLow, kHigh));
}

}  // namespace voice

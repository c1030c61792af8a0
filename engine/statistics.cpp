#include "engine/statistics.h"

namespace {
constexpr uint32_t kShortestIntervalMs = 1000;
}

double RateMeter::Sample(uint32_t nowMs, uint64_t count) {
    if (!started_) {
        started_ = true;
        lastMs_ = nowMs;
        lastCount_ = count;
        return 0;
    }
    const uint32_t elapsedMs = nowMs - lastMs_;
    if (elapsedMs < kShortestIntervalMs) return rate_;
    rate_ = static_cast<double>(count - lastCount_) * 1000.0 / elapsedMs;
    lastMs_ = nowMs;
    lastCount_ = count;
    return rate_;
}

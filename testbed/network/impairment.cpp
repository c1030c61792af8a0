#include "testbed/network/impairment.h"

#include <algorithm>

namespace room {

bool CarriesFeedback(const uint8_t* compound, size_t length) {
    constexpr uint8_t kTransportFeedback = 205;
    constexpr uint8_t kPayloadFeedback = 206;
    constexpr size_t kHeaderBytes = 4;
    size_t offset = 0;
    while (offset + kHeaderBytes <= length) {
        const uint8_t type = compound[offset + 1];
        if (type == kTransportFeedback || type == kPayloadFeedback) return true;
        const size_t words = (size_t(compound[offset + 2]) << 8 | compound[offset + 3]) + 1;
        offset += words * 4;
    }
    return false;
}

ImpairedFlow::ImpairedFlow(const ImpairmentSettings& settings, uint64_t seed) : settings_(settings), random_(seed) {
    // Bursts of N start with q = p / (N (1 - p) + p), so that the share lost
    // in the long run, N q / (N q + 1 - q), is p.
    const double p = std::clamp(settings.lossPercent / 100.0, 0.0, 1.0);
    const double n = std::max(1, settings.burst);
    burstStartProbability_ = p / (n * (1 - p) + p);
}

bool ImpairedFlow::Chance(double percent) { return percent > 0 && unit_(random_) * 100.0 < percent; }

std::vector<double> ImpairedFlow::Admit(double now) {
    if (burstLeft_ > 0) {
        --burstLeft_;
        return {};
    }
    if (burstStartProbability_ > 0 && unit_(random_) < burstStartProbability_) {
        burstLeft_ = std::max(1, settings_.burst) - 1;
        return {};
    }
    const double jitter = settings_.jitterMs * (2 * unit_(random_) - 1);
    double leave = now + std::max(0.0, settings_.delayMs + jitter) / 1000.0;
    if (Chance(settings_.reorderPercent)) leave += kReorderHoldSeconds;
    std::vector<double> departures{leave};
    if (Chance(settings_.duplicatePercent)) departures.push_back(leave);
    return departures;
}

}  // namespace room

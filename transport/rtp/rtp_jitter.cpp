#include "transport/rtp/rtp_jitter.h"

#include <cmath>

namespace rtp {
namespace {
constexpr double kJitterGain = 1.0 / 16.0;  // RFC 3550 A.8
}

void RTPJitterEstimator::Update(uint32_t rtpTimestamp, double arrivalTicks) {
    // Transit kept modulo 2^32 like the timestamp, so wrapping is harmless.
    const double transit = std::fmod(arrivalTicks - rtpTimestamp, 4294967296.0);
    if (hasTransit_) {
        double d = std::fmod(std::fabs(transit - transit_), 4294967296.0);
        if (d > 2147483648.0) d = 4294967296.0 - d;
        jitter_ += (d - jitter_) * kJitterGain;
    }
    transit_ = transit;
    hasTransit_ = true;
}

}  // namespace rtp

// Interarrival jitter of RFC 3550 A.8, in RTP timestamp units.
#pragma once

#include <cstdint>

namespace rtp {

class RTPJitterEstimator {
public:
    // arrivalTicks: arrival time converted to the source's timestamp units.
    void Update(uint32_t rtpTimestamp, double arrivalTicks);
    uint32_t GetJitter() const { return static_cast<uint32_t>(jitter_); }

private:
    bool hasTransit_ = false;
    double transit_ = 0;
    double jitter_ = 0;
};

}  // namespace rtp

// What a bad network does to one flow of datagrams (one direction of one
// socket pair), decided from a seeded random source so that runs repeat:
// loss in bursts, delay with jitter, reordering and duplication.
#pragma once

#include "testbed/network/uplink_queue.h"

#include <cstddef>
#include <cstdint>
#include <random>
#include <vector>

namespace room {

struct ImpairmentSettings {
    double lossPercent = 0;
    int burst = 1;  // datagrams lost in a row once a loss starts
    double delayMs = 0;
    double jitterMs = 0;  // each datagram's delay varies by up to this, either way
    double reorderPercent = 0;
    double duplicatePercent = 0;
    uint64_t seed = 1;
    // RTCP compounds carrying feedback (NACK, picture loss) never arrive, as
    // between peers that ignore it.
    bool dropFeedback = false;
    // One player's egress, every medium and channel, through a shaped queue
    // before the impairments above.
    UplinkSettings uplink;

    bool Active() const {
        return lossPercent > 0 || delayMs > 0 || jitterMs > 0 || reorderPercent > 0 || duplicatePercent > 0 ||
               dropFeedback || uplink.Active();
    }
};

// A datagram picked for reordering is held this much longer, so that the
// ones right behind it overtake it.
constexpr double kReorderHoldSeconds = 0.025;

// Whether an RTCP compound holds a transport-layer or payload-specific
// feedback packet (RFC 4585 types 205, 206).
bool CarriesFeedback(const uint8_t* compound, size_t length);

class ImpairedFlow {
public:
    ImpairedFlow(const ImpairmentSettings& settings, uint64_t seed);

    // The times at which copies of a datagram arriving at `now` leave:
    // none when it is lost, two when it is duplicated.
    std::vector<double> Admit(double now);

private:
    bool Chance(double percent);

    ImpairmentSettings settings_;
    double burstStartProbability_;
    int burstLeft_ = 0;
    std::mt19937_64 random_;
    std::uniform_real_distribution<double> unit_{0.0, 1.0};
};

}  // namespace room

// A receiver's view of one sender's video: the rate that arrives, and from
// it and the queue on the sender's path (which its voice tells, see
// path_queues.h) what the path is judged to carry. A queue building on the
// path shows as delay before it shows as loss. Time in seconds is passed in.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <utility>
#include <vector>

namespace pacing {

// A path whose packets wait this much longer than usual is overused.
constexpr double kOveruseQueueSeconds = 0.02;
// The arriving rate is measured over this long.
constexpr double kRateWindowSeconds = 1;
// Overused: the estimate falls to this share of what arrives, once per
// spacing (the queue takes a while to drain, and what arrives meanwhile
// already shows the sender's cut). Otherwise it grows by a share per call,
// but never far beyond what arrives (a sender that needs less than it may),
// and never falls.
constexpr double kOveruseBackoff = 0.85;
constexpr double kDecreaseSpacingSeconds = 1;
constexpr double kGrowthShare = 0.05;
constexpr double kHeadroomShare = 1.5;
constexpr double kHeadroomBitsPerSecond = 16000;
// Near the rate at which the path last overused, growth stays below it for
// this long, and slows once past it.
constexpr double kCapacityShare = 0.9;
constexpr double kCapacityMemorySeconds = 10;
constexpr double kSlowGrowthShare = 0.02;
// This far past that rate without a queue, the path has changed (a cap
// lifted): growth is fast again.
constexpr double kCapacityForgetShare = 1.25;
// Each datagram also carries IPv4 and UDP headers on the path.
constexpr size_t kDatagramOverheadBytes = 28;
// A queue measured counts this long; a path that sends nothing overuses
// nothing.
constexpr double kQueueLifetimeSeconds = 0.5;

class ArrivalDelay {
public:
    void OnPacket(double arrival, size_t bytes);
    // Whether a path whose queue is `queueSeconds` is overused; a path that
    // sends nothing overuses nothing.
    bool Overused(double now, double queueSeconds) const {
        return queueSeconds > kOveruseQueueSeconds && now - lastArrival_ < kQueueLifetimeSeconds;
    }
    double ArrivingBitsPerSecond(double now);
    // What the path is judged to carry now, bits/s; 0 before a second of arrivals.
    double EstimateBitsPerSecond(double now, bool overused);

private:
    struct Arrival {
        double at;
        size_t bytes;
    };

    bool started_ = false;
    double firstArrival_ = 0;
    double lastArrival_ = 0;
    std::deque<Arrival> arrivals_;
    size_t windowBytes_ = 0;
    double estimate_ = 0;
    double lastDecrease_ = -1e9;
    double capacity_ = 0;  // what arrived when the path last overused
};

// Estimates go out this often per sender, and at once when a path starts
// to overuse: each moment the sender does not know, voice queues longer.
constexpr double kEstimateSpacingSeconds = 0.25;

// Every sender's video path as this receiver sees it. When several senders'
// paths queue at once (at least two, and a quarter of them), the queue is
// this receiver's own (its downlink, or a receiver that cannot keep up):
// no sender is told to slow down for it. One sender's own uplink is one
// sender of the room.
constexpr size_t kOwnQueueSenders = 2;
constexpr size_t kOwnQueueShareDivisor = 4;
class ArrivalDelays {
public:
    void OnPacket(uint32_t ssrc, double arrival, size_t bytes);
    void Forget(uint32_t ssrc) {
        paths_.erase(ssrc);
        overused_.erase(ssrc);
    }
    // The (ssrc, bits/s) estimates to send now; empty between spacings.
    // `pathQueue` gives the queue on each sender's path (from its voice);
    // unknown, the path is not judged overused.
    using PathQueueOf = std::function<std::optional<double>(uint32_t ssrc)>;
    std::vector<std::pair<uint32_t, double>> Due(double now, const PathQueueOf& pathQueue);

private:
    std::map<uint32_t, ArrivalDelay> paths_;
    std::map<uint32_t, bool> overused_;  // at the last estimates sent
    double lastSent_ = -1e9;
};

}  // namespace pacing

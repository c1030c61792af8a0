#include "transport/pacing/arrival_delay.h"

#include <algorithm>

namespace pacing {

void ArrivalDelay::OnPacket(double arrival, size_t bytes) {
    if (started_ && arrival - lastArrival_ > kQueueLifetimeSeconds) {
        // Video back after a pause (held, or no video fitted): what arrives
        // is measured afresh, or its first second would read as a path
        // carrying a fraction of it.
        started_ = false;
        arrivals_.clear();
        windowBytes_ = 0;
        estimate_ = 0;
    }
    arrivals_.push_back({arrival, bytes + kDatagramOverheadBytes});
    windowBytes_ += bytes + kDatagramOverheadBytes;
    if (!started_) firstArrival_ = arrival;
    started_ = true;
    lastArrival_ = arrival;
}

double ArrivalDelay::ArrivingBitsPerSecond(double now) {
    while (!arrivals_.empty() && arrivals_.front().at < now - kRateWindowSeconds) {
        windowBytes_ -= arrivals_.front().bytes;
        arrivals_.pop_front();
    }
    return windowBytes_ * 8 / kRateWindowSeconds;
}

double ArrivalDelay::EstimateBitsPerSecond(double now, bool overused) {
    if (!started_ || now - firstArrival_ < kRateWindowSeconds) return 0;
    const double arriving = ArrivingBitsPerSecond(now);
    if (arriving == 0) return 0;  // nothing comes: nothing to judge
    if (overused) {
        if (now - lastDecrease_ >= kDecreaseSpacingSeconds) {
            capacity_ = arriving;
            estimate_ = arriving * kOveruseBackoff;
            lastDecrease_ = now;
        }
        return estimate_;
    }
    const double headroom = arriving * kHeadroomShare + kHeadroomBitsPerSecond;
    // What arrives without a queue fits, and so does some more: the sender
    // steps its video up one step at a time to find out how much.
    if (estimate_ == 0) return estimate_ = headroom;
    const bool nearCapacity = now - lastDecrease_ < kCapacityMemorySeconds;
    if (estimate_ > capacity_ * kCapacityForgetShare) capacity_ = 0;
    const bool pastCapacity = capacity_ > 0 && estimate_ > capacity_;
    const double growth = nearCapacity || pastCapacity ? kSlowGrowthShare : kGrowthShare;
    // Growth stops at the headroom over what arrives; a sender that sends
    // less for reasons of its own (a cheaper step, frames it left uncoded)
    // loses nothing by it: only a queue lowers the estimate.
    double grown = std::max(estimate_, std::min(std::max(estimate_, arriving) * (1 + growth), headroom));
    if (nearCapacity) grown = std::min(grown, std::max(estimate_, capacity_ * kCapacityShare));
    estimate_ = grown;
    return estimate_;
}

void ArrivalDelays::OnPacket(uint32_t ssrc, double arrival, size_t bytes) { paths_[ssrc].OnPacket(arrival, bytes); }

std::vector<std::pair<uint32_t, double>> ArrivalDelays::Due(double now, const PathQueueOf& pathQueue) {
    std::vector<std::pair<uint32_t, double>> due;
    std::map<uint32_t, bool> overused;
    size_t overusedCount = 0;
    bool newlyOverused = false;
    for (const auto& [ssrc, path] : paths_) {
        const std::optional<double> queue = pathQueue(ssrc);
        overused[ssrc] = queue && path.Overused(now, *queue);
        overusedCount += overused[ssrc] ? 1 : 0;
        newlyOverused |= overused[ssrc] && !overused_[ssrc];
    }
    const bool ownQueue = overusedCount >= kOwnQueueSenders && overusedCount * kOwnQueueShareDivisor >= paths_.size();
    if (now - lastSent_ < kEstimateSpacingSeconds && (!newlyOverused || ownQueue)) return due;
    lastSent_ = now;
    overused_ = overused;
    for (auto& [ssrc, path] : paths_) {
        // A queue of our own is not the path's: it cuts no estimate, now
        // or later.
        const double estimate = path.EstimateBitsPerSecond(now, overused[ssrc] && !ownQueue);
        if (estimate <= 0 || (ownQueue && overused[ssrc])) continue;
        due.emplace_back(ssrc, estimate);
    }
    return due;
}

}  // namespace pacing

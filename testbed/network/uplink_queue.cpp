#include "testbed/network/uplink_queue.h"

#include <algorithm>

namespace room {

double UplinkSettings::KbitsAt(double seconds) const {
    const bool dropped = dropAtSeconds >= 0 && seconds >= dropAtSeconds;
    const bool lifted = liftAtSeconds >= 0 && seconds >= liftAtSeconds;
    return dropped && !lifted ? dropToKbits : kbits;
}

std::optional<double> UplinkQueue::Admit(double now, size_t bytes) {
    while (!queued_.empty() && queued_.front().leaves <= now) {
        backlogBytes_ -= queued_.front().bytes;
        queued_.pop_front();
    }
    const double bitsPerSecond = settings_.KbitsAt(now) * 1000;
    const size_t wire = bytes + kUdpOverheadBytes;
    const auto limit =
        std::max(kUplinkBacklogFloorBytes, static_cast<size_t>(bitsPerSecond / 8 * kUplinkBacklogSeconds));
    if (backlogBytes_ + wire > limit) {
        ++dropped_;
        return std::nullopt;
    }
    lastLeaves_ = std::max(now, lastLeaves_) + wire * 8 / bitsPerSecond;
    queued_.push_back({lastLeaves_, wire});
    backlogBytes_ += wire;
    return lastLeaves_;
}

}  // namespace room

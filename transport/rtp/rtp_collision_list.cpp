#include "transport/rtp/rtp_collision_list.h"

#include <algorithm>

namespace rtp {

bool RTPCollisionList::Contains(const RTPIPv4Address& address, bool isRTP) const {
    return std::any_of(entries_.begin(), entries_.end(),
                       [&](const Entry& e) { return e.address == address && e.isRTP == isRTP; });
}

void RTPCollisionList::Add(const RTPIPv4Address& address, bool isRTP, double now) {
    for (Entry& e : entries_) {
        if (e.address == address && e.isRTP == isRTP) {
            e.time = now;
            return;
        }
    }
    entries_.push_back({address, isRTP, now});
}

void RTPCollisionList::Expire(double now, double maximumAge) {
    std::erase_if(entries_, [&](const Entry& e) { return now - e.time > maximumAge; });
}

}  // namespace rtp

#include "transport/rtp/rtp_collision_list.h"

#include "transport/rtp/rtp_defaults.h"

#include <cassert>

namespace rtp {

uint64_t RTPCollisionList::Key(const RTPIPv4Address& address, bool isRTP) {
    return (uint64_t{address.GetIP()} << 17) | (uint64_t{address.GetPort()} << 1) | (isRTP ? 1 : 0);
}

bool RTPCollisionList::Contains(const RTPIPv4Address& address, bool isRTP) const {
    return index_.count(Key(address, isRTP)) != 0;
}

void RTPCollisionList::Add(const RTPIPv4Address& address, bool isRTP, double now) {
    const uint64_t key = Key(address, isRTP);
    const auto found = index_.find(key);
    if (found != index_.end()) {
        found->second->time = now;
        byAge_.splice(byAge_.end(), byAge_, found->second);
        return;
    }
    if (index_.size() >= kMaximumCollisionEntries) {
        index_.erase(byAge_.front().key);
        byAge_.pop_front();
    }
    byAge_.push_back({key, now});
    index_.emplace(key, std::prev(byAge_.end()));
    assert(index_.size() == byAge_.size());
}

void RTPCollisionList::Expire(double now, double maximumAge) {
    // Oldest first, so the first entry young enough ends the sweep.
    while (!byAge_.empty() && now - byAge_.front().time > maximumAge) {
        index_.erase(byAge_.front().key);
        byAge_.pop_front();
    }
}

void RTPCollisionList::Clear() {
    index_.clear();
    byAge_.clear();
}

}  // namespace rtp

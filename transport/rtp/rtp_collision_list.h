// Transport addresses that took part in an SSRC collision (RFC 3550 8.2).
// A second packet from a listed address is a loop, not a new collision.
// Every datagram asks this list, and anyone may send from many addresses,
// so lookups are constant-time and the list keeps at most
// kMaximumCollisionEntries addresses, forgetting the least recently seen.
#pragma once

#include "transport/rtp/rtp_ipv4_address.h"

#include <cstddef>
#include <cstdint>
#include <list>
#include <unordered_map>

namespace rtp {

class RTPCollisionList {
public:
    bool Contains(const RTPIPv4Address& address, bool isRTP) const;
    // Lists the address, or marks a listed one as seen at `now`.
    void Add(const RTPIPv4Address& address, bool isRTP, double now);
    // Forgets entries older than maximumAge seconds.
    void Expire(double now, double maximumAge);
    void Clear();
    size_t GetSize() const { return index_.size(); }

private:
    struct Entry {
        uint64_t key;
        double time;
    };
    static uint64_t Key(const RTPIPv4Address& address, bool isRTP);

    std::list<Entry> byAge_;  // least recently seen first
    std::unordered_map<uint64_t, std::list<Entry>::iterator> index_;
};

}  // namespace rtp

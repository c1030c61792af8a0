// Transport addresses that took part in an SSRC collision (RFC 3550 8.2).
// A second packet from a listed address is a loop, not a new collision.
#pragma once

#include "transport/rtp/rtp_ipv4_address.h"

#include <vector>

namespace rtp {

class RTPCollisionList {
public:
    bool Contains(const RTPIPv4Address& address, bool isRTP) const;
    void Add(const RTPIPv4Address& address, bool isRTP, double now);
    // Forgets entries older than maximumAge seconds.
    void Expire(double now, double maximumAge);
    void Clear() { entries_.clear(); }

private:
    struct Entry {
        RTPIPv4Address address;
        bool isRTP;
        double time;
    };
    std::vector<Entry> entries_;
};

}  // namespace rtp

// The sequence numbers a peer never got from us: a greeting goes to one
// peer, the address request to the server, and held video to none of the
// held peers, yet each takes a number of the session's one sequence. A
// peer's reception report counts them as lost, so that a room's first
// reports (every peer greeted in turn) show a third or more lost, and a
// peer whose video was held shows all of it lost once the hold ends.
// This tells, for each report, the share lost of what we did send it.
#pragma once

#include "transport/rtp/rtp_ipv4_address.h"

#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <vector>

class UnsentSequences {
public:
    // Sending thread: packet `sequence` left for every destination but
    // those in `skipped`.
    void OnSent(uint16_t sequence, const std::vector<rtp::RTPIPv4Address>& skipped);

    // Of what we sent `peer` in the interval of its report (highest number
    // received, cumulative lost, the report's arrival time), the share it
    // lost, 0..1. The same report asked again gives the same share.
    double ShareLost(const rtp::RTPIPv4Address& peer, uint16_t highest, int32_t cumulativeLost, uint8_t fractionLost,
                     double reportTime);

private:
    struct Peer {
        std::deque<uint64_t> skipped;  // extended numbers, ascending
        uint64_t skippedBefore = 0;    // dropped from the front of skipped
        bool reported = false;
        double reportTime = 0;
        uint64_t highest = 0;
        int32_t cumulativeLost = 0;
        uint64_t skippedUpToHighest = 0;
        double share = 0;
    };
    uint64_t Extend(uint16_t sequence) const;
    static uint64_t SkippedUpTo(const Peer& peer, uint64_t sequence);

    std::mutex mutex_;
    bool sent_ = false;
    uint64_t last_ = 0;               // the extended number of the latest packet sent
    std::map<uint64_t, Peer> peers_;  // by address and port
};

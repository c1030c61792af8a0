// The receiving side of retransmission for one video source: notices gaps in
// its sequence numbers and decides which missing numbers to ask for now.
// A number is asked once it has been missing for the reorder wait, again
// after each retry interval, at most kMaxNackTries times, and forgotten when
// it arrives or grows older than the sender's history. Time is passed in, so
// that the rules are tested without waiting. Used by one thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// How long to wait before asking, and between asks, in seconds.
struct NackTiming {
    double reorderWait;
    double retryInterval;
};
// From the source's round trip (0: not known yet) and interarrival jitter.
NackTiming NackTimingFor(double roundTripSeconds, double jitterSeconds);

class NackRequester {
public:
    // A packet of the source arrived. True when it is one that was asked for
    // (a recovered packet).
    bool OnPacket(uint16_t sequence, double now);
    // The numbers to ask for now, oldest first; forgets those given up.
    std::vector<uint16_t> Due(double now, const NackTiming& timing);
    // The numbers Due gave went out at `now`.
    void MarkAsked(const std::vector<uint16_t>& asked, double now);
    size_t MissingCount() const { return missing_.size(); }

private:
    struct Missing {
        uint16_t sequence;
        double since;
        double lastAsked;
        int tries;
    };
    void AddMissing(uint16_t sequence, double now);

    bool started_ = false;
    uint16_t highest_ = 0;
    std::vector<Missing> missing_;  // oldest first
};

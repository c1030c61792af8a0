// What the threads count for one peer, and what it may still be sent again.
// The peer's row in the table and every snapshot that names it share one
// record, so a poll thread still counting for a peer the engine thread has
// just removed counts into a record that goes with the last snapshot.
#pragma once

#include "transport/medium.h"
#include "transport/peer_statistics.h"
#include "transport/retransmission_budget.h"

#include <atomic>
#include <cstddef>
#include <cstdint>

// RTP packets and their bytes; counted on one thread, read on another.
struct TrafficCounter {
    std::atomic<uint64_t> packets{0};
    std::atomic<uint64_t> bytes{0};
    void Add(size_t packetBytes) {
        packets.fetch_add(1, std::memory_order_relaxed);
        bytes.fetch_add(packetBytes, std::memory_order_relaxed);
    }
    TrafficCount Read() const {
        return {packets.load(std::memory_order_relaxed), bytes.load(std::memory_order_relaxed)};
    }
};

struct PeerLink {
    // RTP from the peer that reached the window thread, headers included:
    // media handed to its sink, and greetings ("HI", "REHI").
    PerMedium<TrafficCounter> media;
    PerMedium<TrafficCounter> greetings;
    // Video feedback, both ways.
    std::atomic<uint64_t> nacksSent{0};  // NACK messages
    std::atomic<uint64_t> nacksReceived{0};
    std::atomic<uint64_t> pictureLossSent{0};
    std::atomic<uint64_t> pictureLossReceived{0};
    std::atomic<uint64_t> packetsRetransmitted{0};
    std::atomic<uint64_t> retransmissionsRefused{0};
    std::atomic<uint64_t> packetsRecovered{0};
    // Video poll thread only.
    RetransmissionBudget answerBudget;
};

inline void Count(std::atomic<uint64_t>& counter) { counter.fetch_add(1, std::memory_order_relaxed); }

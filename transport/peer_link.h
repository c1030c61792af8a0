// What the threads count for one peer, and what it may still be sent again.
// The peer's row in the table and every snapshot that names it share one
// record, so a poll thread still counting for a peer the engine thread has
// just removed counts into a record that goes with the last snapshot.
#pragma once

#include "transport/medium.h"
#include "transport/retransmission_budget.h"

#include <atomic>
#include <cstddef>
#include <cstdint>

struct TrafficCounter {
    std::atomic<uint64_t> packets{0};
    std::atomic<uint64_t> bytes{0};
    void Add(size_t packetBytes) {
        packets.fetch_add(1, std::memory_order_relaxed);
        bytes.fetch_add(packetBytes, std::memory_order_relaxed);
    }
};

struct PeerLink {
    // Datagrams of the medium from the peer that reached the window thread.
    TrafficCounter& Received(Medium medium) { return received_[medium == Medium::kVideo]; }
    const TrafficCounter& Received(Medium medium) const { return received_[medium == Medium::kVideo]; }
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

private:
    TrafficCounter received_[2];
};

inline void Count(std::atomic<uint64_t>& counter) { counter.fetch_add(1, std::memory_order_relaxed); }

// What an allocation counts: written on its socket's thread, read anywhere.
#pragma once

#include <atomic>
#include <cstdint>

namespace relay {

struct RelayFigures {
    int64_t allocationMs = -1;  // from Start to the relayed address; -1: none yet
    uint64_t refreshes = 0;     // refreshes answered
    uint64_t unauthorized = 0;  // 401 answers
    uint64_t mismatches = 0;    // 437 answers
    uint64_t staleNonces = 0;   // 438 answers
    uint64_t redirects = 0;     // alternate servers followed
    uint64_t datagramsOut = 0;  // media sent through the relay, and its payload bytes
    uint64_t bytesOut = 0;
    uint64_t datagramsIn = 0;  // media received through it
    uint64_t bytesIn = 0;
};

// The counts of `past` allocations added to `current`'s, whose allocation
// time it keeps.
RelayFigures Plus(const RelayFigures& past, const RelayFigures& current);

struct RelayCounters {
    std::atomic<int64_t> allocationMs{-1};
    std::atomic<uint64_t> refreshes{0};
    std::atomic<uint64_t> unauthorized{0};
    std::atomic<uint64_t> mismatches{0};
    std::atomic<uint64_t> staleNonces{0};
    std::atomic<uint64_t> redirects{0};
    std::atomic<uint64_t> datagramsOut{0};
    std::atomic<uint64_t> bytesOut{0};
    std::atomic<uint64_t> datagramsIn{0};
    std::atomic<uint64_t> bytesIn{0};

    RelayFigures Read() const;
};

// One thread writes, so a plain load and store do (no locked instruction
// per datagram); readers see each value whole.
inline void Add(std::atomic<uint64_t>& counter, uint64_t amount = 1) {
    counter.store(counter.load(std::memory_order_relaxed) + amount, std::memory_order_relaxed);
}

}  // namespace relay

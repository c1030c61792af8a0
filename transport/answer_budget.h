// How many answers the address server may send to one IPv4 address: a token
// bucket per source address, so that requests with a forged source cannot
// make the server send a victim more than the bucket allows, whatever their
// number. The buckets live in a fixed table (bounded memory, nothing
// allocated per datagram); an address is placed by a hash keyed with a seed
// drawn at construction, so nobody can choose addresses that share a slot.
// A slot held by another address is handed to the newcomer with a full
// bucket. Time is passed in. Not locked: its owner's thread alone uses it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

class AnswerBudget {
public:
    // 16 players behind one address ask 32 times at once, then 8/s (2 sessions, every 4 s): half the budget.
    static constexpr uint32_t kDefaultPerSecond = 16;
    // The burst is this many seconds' worth of answers.
    static constexpr uint32_t kBurstSeconds = 4;
    static constexpr uint32_t kMaxPerSecond = 1000000;
    static constexpr size_t kSlots = 4096;

    // perSecond in 1..kMaxPerSecond (clamped).
    explicit AnswerBudget(uint32_t perSecond = kDefaultPerSecond);

    // Spends one answer for `address` (host order) at nowMs (monotonic
    // milliseconds). False, spending nothing, when its bucket is empty.
    bool TrySpend(uint32_t address, int64_t nowMs);

    uint32_t Burst() const { return burst_; }
    uint32_t PerSecond() const { return perSecond_; }
    // The table slot `address` takes; for tests of slot sharing.
    size_t SlotOf(uint32_t address) const;

private:
    struct Slot {
        int64_t lastMs = 0;
        uint64_t credit = 0;  // thousandths of an answer
        uint32_t address = 0;
        bool taken = false;
    };

    uint32_t perSecond_;
    uint32_t burst_;
    uint64_t xorKey_;
    uint64_t multiplier_;  // odd
    std::vector<Slot> slots_;
};

// Whether the address server may answer a request, so that requests with a
// forged source can neither aim many answers at a victim nor keep a victim's
// own engines from theirs.
//
// Two rules; either one lets the answer go:
// - a token bucket per source address (perSecond, a burst of kBurstSeconds'
//   worth), which a room behind one address never exhausts;
// - the first answer to an address and port within kFirstAnswerPeriodMs.
//   A forger who spends an address's bucket cannot spend this one for the
//   engines' own ports: an answer it provokes for such a port goes to that
//   very port, and so to the engine.
// Every answer answers one request, so whatever is forged, an address gets
// at most 13 bytes back for every 11-byte request sent in its name; from one
// address and port, the bucket's answers and at most one more per period.
//
// Both tables are fixed (bounded memory, nothing allocated per datagram);
// keys are placed by a hash keyed with a seed drawn at construction, so
// nobody can choose keys that share a slot. A slot held by another key is
// handed to the newcomer as if new: a shared slot makes answers more likely,
// never less. Time is passed in. Not locked: its owner's thread alone uses it.
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
    // Shorter than the engines' 4 s between requests, so that each of their
    // requests is a first answer even when a timer fires early.
    static constexpr int64_t kFirstAnswerPeriodMs = 3000;
    static constexpr size_t kSlots = 4096;

    // perSecond in 1..kMaxPerSecond (clamped).
    explicit AnswerBudget(uint32_t perSecond = kDefaultPerSecond);

    // Spends one answer for a request from `address` (host order) and `port`
    // at nowMs (monotonic milliseconds). False, spending nothing, when
    // neither rule allows it.
    bool TrySpend(uint32_t address, uint16_t port, int64_t nowMs);

    uint32_t Burst() const { return burst_; }
    uint32_t PerSecond() const { return perSecond_; }
    // The table slots a source takes; for tests of slot sharing.
    size_t SlotOf(uint32_t address) const;
    size_t SlotOf(uint32_t address, uint16_t port) const;

private:
    struct AddressSlot {
        int64_t lastMs = 0;
        uint64_t credit = 0;  // thousandths of an answer
        uint32_t address = 0;
        bool taken = false;
    };
    struct PortSlot {
        int64_t answeredMs = 0;
        uint32_t address = 0;
        uint16_t port = 0;
        bool answered = false;
    };
    size_t Place(uint64_t key) const;
    bool TrySpendBucket(uint32_t address, int64_t nowMs);

    uint32_t perSecond_;
    uint32_t burst_;
    uint64_t xorKey_;
    uint64_t multiplier_;  // odd
    std::vector<AddressSlot> addresses_;
    std::vector<PortSlot> ports_;
};

// The video packets this engine sent during the last second, byte for byte,
// so that a peer that missed one can be sent the very same packet again.
// Slots are found by sequence number and reused, so steady sending allocates
// nothing. The sending thread adds, a poll thread reads: each call locks.
#pragma once

#include "transport/transmission_constants.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <vector>

class SentPacketHistory {
public:
    void Add(const uint8_t* packet, size_t length, uint16_t sequence, double sendTime);
    // Copies packet `sequence` when it was sent within the history's window
    // before `now` and is still held.
    bool Copy(uint16_t sequence, double now, std::vector<uint8_t>* out) const;
    // Bytes of the packets sent within the window before `now`.
    size_t BytesWithin(double now) const;

private:
    struct Slot {
        std::vector<uint8_t> bytes;
        uint16_t sequence = 0;
        double sendTime = 0;
        bool used = false;
    };
    bool IsRecent(const Slot& slot, double now) const;

    // Sequence numbers wrap onto the same slots.
    static_assert(65536 % transmission::kSentHistoryPackets == 0);
    mutable std::mutex mutex_;
    std::array<Slot, transmission::kSentHistoryPackets> slots_;
};

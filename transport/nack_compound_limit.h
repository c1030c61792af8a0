// Which numbers of one RTCP compound's NACKs are looked up in the sent
// history: each number once, at most as many distinct numbers as the history
// holds, and none after the asking peer's budget refused one. A compound
// marks up to 17 numbers per 4 bytes (6,000 in 1,500 bytes); this keeps what
// one costs to a few hundred lookups, whatever it marks. Used on the video
// session's poll thread only.
#pragma once

#include "transport/transmission_constants.h"

#include <bitset>
#include <cstddef>
#include <cstdint>
#include <vector>

class NackCompoundLimit {
public:
    static constexpr size_t kMaxNumbers = transmission::kSentHistoryPackets;

    void BeginCompound();
    // Appends to `out` the numbers of `lost` to look up, in their order.
    void Take(const uint16_t* lost, size_t count, std::vector<uint16_t>* out);
    // The peer's budget refused a packet: nothing more in this compound.
    void Stop() { stopped_ = true; }

private:
    std::bitset<65536> seen_;
    std::vector<uint16_t> taken_;  // the numbers marked in seen_
    bool stopped_ = false;
};

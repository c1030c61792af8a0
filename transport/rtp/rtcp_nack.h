// Generic NACK (RFC 4585 6.2.1): transport-layer feedback (PT 205, FMT 1)
// whose FCI is one or more entries of
//
//  0                   1                   2                   3
//  0 1 2 3 4 5 6 7 8 9 0 1 2 3 4 5 6 7 8 9 0 1 2 3 4 5 6 7 8 9 0 1
// +-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+
// |            PID                |             BLP               |
// +-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+
//
// PID is a lost sequence number; bit i (least significant bit = 0) of BLP
// marks PID + i + 1 (modulo 2^16) lost as well.
#pragma once

#include "transport/rtp/rtcp_feedback.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace rtp {

constexpr size_t kRTCPNACKEntryBytes = 4;

struct RTCPNACKEntry {
    uint16_t pid = 0;
    uint16_t blp = 0;
};

// The fewest entries a single pass can give: each number joins the open
// entry when it lies 1..16 after its PID, else opens a new one. Numbers in
// ascending order (with wrap) pack best; a repeat within the open entry
// costs nothing, an earlier one may mark its number twice.
std::vector<RTCPNACKEntry> PackNACKEntries(const uint16_t* lost, size_t count);

class RTCPNACKReader {
public:
    // False unless it is a generic NACK with at least one whole entry;
    // a partial entry at the end is not read.
    bool Parse(const RTCPPacket& packet);

    uint32_t GetSenderSSRC() const { return header_.GetSenderSSRC(); }
    uint32_t GetMediaSSRC() const { return header_.GetMediaSSRC(); }
    int GetEntryCount() const { return entryCount_; }
    RTCPNACKEntry GetEntry(int index) const;
    // Every sequence number the entries mark, in entry and bit order.
    std::vector<uint16_t> GetLostSequenceNumbers() const;

private:
    RTCPFeedbackReader header_;
    int entryCount_ = 0;
};

}  // namespace rtp

// Receiver estimated maximum bitrate: payload-specific feedback (PT 206,
// FMT 15, application layer) that tells a sender what rate the receiver
// judges its path to carry. Peers that do not know it skip it as an
// unknown feedback format.
//
//  0                   1                   2                   3
//  0 1 2 3 4 5 6 7 8 9 0 1 2 3 4 5 6 7 8 9 0 1 2 3 4 5 6 7 8 9 0 1
// +-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+
// |V=2|P| FMT=15  |    PT=206     |          length=4+N           |
// +-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+
// |                  SSRC of packet sender                        |
// +-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+
// |                  SSRC of media source (0)                     |
// +-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+
// |  Unique identifier 'R' 'E' 'M' 'B'                            |
// +-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+
// |  Num SSRC     | BR Exp    |  BR Mantissa (18 bits)            |
// +-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+
// |   SSRC feedback (N of them)                                   |
// +-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+
// The rate is mantissa << exp bits/s.
#pragma once

#include "transport/rtp/rtcp_feedback.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace rtp {

constexpr uint8_t kRTCPFeedbackApplicationLayer = 15;
constexpr uint32_t kREMBIdentifier = 0x52454D42;  // "REMB"
constexpr uint32_t kREMBMaxMantissa = (1u << 18) - 1;

// The rate as the wire holds it, rounded down: (exponent, mantissa).
void EncodeREMBRate(uint64_t bitsPerSecond, uint8_t* exponent, uint32_t* mantissa);

class RTCPREMBReader {
public:
    // False unless it is a REMB with as many SSRCs as it says.
    bool Parse(const RTCPPacket& packet);

    uint32_t GetSenderSSRC() const { return header_.GetSenderSSRC(); }
    uint64_t GetBitsPerSecond() const { return bitsPerSecond_; }
    const std::vector<uint32_t>& GetSSRCs() const { return ssrcs_; }

private:
    RTCPFeedbackReader header_;
    uint64_t bitsPerSecond_ = 0;
    std::vector<uint32_t> ssrcs_;
};

}  // namespace rtp

// Goodbye packets (RFC 3550 6.6): reading.
#pragma once

#include "transport/rtp/rtcp_packet.h"

#include <cstddef>
#include <cstdint>

namespace rtp {

class RTCPBYEReader {
public:
    // Every announced SSRC present and the optional reason within bounds.
    bool Parse(const RTCPPacket& packet);

    int GetSSRCCount() const { return ssrcCount_; }
    uint32_t GetSSRC(int index) const;
    const uint8_t* GetReason() const { return reason_; }
    size_t GetReasonLength() const { return reasonLength_; }

private:
    const uint8_t* ssrcs_ = nullptr;
    int ssrcCount_ = 0;
    const uint8_t* reason_ = nullptr;
    size_t reasonLength_ = 0;
};

}  // namespace rtp

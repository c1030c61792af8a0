// Picture loss indication (RFC 4585 6.3.1): payload-specific feedback
// (PT 206, FMT 1) with no FCI, the common header alone:
//
//  0                   1                   2                   3
//  0 1 2 3 4 5 6 7 8 9 0 1 2 3 4 5 6 7 8 9 0 1 2 3 4 5 6 7 8 9 0 1
// +-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+
// |V=2|P| FMT=1   |    PT=206     |          length=2             |
// +-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+
// |                  SSRC of packet sender                        |
// +-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+
// |                  SSRC of media source                         |
// +-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+
#pragma once

#include "transport/rtp/rtcp_feedback.h"

namespace rtp {

class RTCPPLIReader {
public:
    // False unless it is a PLI; bytes after the SSRCs are ignored.
    bool Parse(const RTCPPacket& packet);

    uint32_t GetSenderSSRC() const { return header_.GetSenderSSRC(); }
    uint32_t GetMediaSSRC() const { return header_.GetMediaSSRC(); }

private:
    RTCPFeedbackReader header_;
};

}  // namespace rtp

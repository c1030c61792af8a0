#include "transport/rtp/rtcp_pli.h"

namespace rtp {

bool RTCPPLIReader::Parse(const RTCPPacket& packet) {
    return header_.Parse(packet) && header_.GetPacketType() == kRTCPPayloadFeedback &&
           header_.GetFormat() == kRTCPFeedbackPLI;
}

}  // namespace rtp

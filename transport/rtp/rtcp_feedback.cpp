#include "transport/rtp/rtcp_feedback.h"

#include "transport/rtp/rtp_byte_order.h"

namespace rtp {

bool RTCPFeedbackReader::Parse(const RTCPPacket& packet) {
    const uint8_t type = packet.GetPacketType();
    if (type != kRTCPTransportFeedback && type != kRTCPPayloadFeedback) return false;
    if (packet.GetBodyLength() < kRTCPFeedbackHeaderBodyBytes) return false;
    const uint8_t* body = packet.GetBody();
    type_ = type;
    format_ = packet.GetCount();
    senderSSRC_ = Read32(body);
    mediaSSRC_ = Read32(body + 4);
    fci_ = body + kRTCPFeedbackHeaderBodyBytes;
    fciLength_ = packet.GetBodyLength() - kRTCPFeedbackHeaderBodyBytes;
    return true;
}

}  // namespace rtp

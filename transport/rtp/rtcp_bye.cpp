#include "transport/rtp/rtcp_bye.h"

#include "transport/rtp/rtp_byte_order.h"

namespace rtp {

bool RTCPBYEReader::Parse(const RTCPPacket& packet) {
    if (packet.GetPacketType() != kRTCPBye) return false;
    const uint8_t* body = packet.GetBody();
    const size_t length = packet.GetBodyLength();
    const size_t ssrcBytes = size_t{packet.GetCount()} * 4;
    if (length < ssrcBytes) return false;
    ssrcs_ = body;
    ssrcCount_ = packet.GetCount();
    reason_ = nullptr;
    reasonLength_ = 0;
    if (length > ssrcBytes) {
        const size_t reasonLength = body[ssrcBytes];
        if (reasonLength > length - ssrcBytes - 1) return false;
        reason_ = body + ssrcBytes + 1;
        reasonLength_ = reasonLength;
    }
    return true;
}

uint32_t RTCPBYEReader::GetSSRC(int index) const { return Read32(ssrcs_ + size_t(index) * 4); }

}  // namespace rtp

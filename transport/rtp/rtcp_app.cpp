#include "transport/rtp/rtcp_packet.h"

#include "transport/rtp/rtp_byte_order.h"

namespace rtp {
namespace {
constexpr size_t kSSRCAndNameBytes = 8;
}

bool RTCPAPPPacket::Parse(const RTCPPacket& packet) {
    if (packet.GetPacketType() != kRTCPApplication || packet.GetBodyLength() < kSSRCAndNameBytes) return false;
    const uint8_t* body = packet.GetBody();
    subType_ = packet.GetCount();
    ssrc_ = Read32(body);
    name_ = body + 4;
    appData_ = body + kSSRCAndNameBytes;
    appDataLength_ = packet.GetBodyLength() - kSSRCAndNameBytes;
    return true;
}

}  // namespace rtp

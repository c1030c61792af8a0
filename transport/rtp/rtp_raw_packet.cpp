#include "transport/rtp/rtp_raw_packet.h"

namespace rtp {

uint8_t* RTPRawPacket::PrepareBuffer(size_t capacity) {
    if (buffer_.size() < capacity) buffer_.resize(capacity);
    length_ = 0;
    return buffer_.data();
}

void RTPRawPacket::SetReceived(size_t length, double receiveTime, const RTPIPv4Address& sender, bool isRTP) {
    length_ = length;
    receiveTime_ = receiveTime;
    sender_ = sender;
    isRTP_ = isRTP;
}

}  // namespace rtp

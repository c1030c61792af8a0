#include "transport/rtp/rtp_raw_packet.h"

#include <cassert>

namespace rtp {

uint8_t* RTPRawPacket::PrepareBuffer(size_t capacity) {
    if (buffer_.size() < capacity) buffer_.resize(capacity);
    offset_ = 0;
    length_ = 0;
    return buffer_.data();
}

void RTPRawPacket::SetReceived(size_t length, double receiveTime, const RTPIPv4Address& sender, bool isRTP) {
    length_ = length;
    receiveTime_ = receiveTime;
    sender_ = sender;
    isRTP_ = isRTP;
    overConnection_ = false;
}

void RTPRawPacket::NarrowTo(const uint8_t* bytes, size_t length, const RTPIPv4Address& sender) {
    assert(bytes >= GetData() && bytes + length <= GetData() + length_);
    offset_ = static_cast<size_t>(bytes - buffer_.data());
    length_ = length;
    sender_ = sender;
}

}  // namespace rtp

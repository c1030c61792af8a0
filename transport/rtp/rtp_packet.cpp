#include "transport/rtp/rtp_packet.h"

#include "transport/rtp/rtp_byte_order.h"
#include "transport/rtp/rtp_defaults.h"

#include <cstring>

namespace rtp {

bool RTPPacket::Parse(const uint8_t* data, size_t length, double receiveTimeSeconds) {
    packetLength_ = payloadLength_ = extensionLength_ = 0;
    hasExtension_ = false;
    if (length < kRTPFixedHeaderBytes) return false;
    if ((data[0] >> 6) != 2) return false;
    const bool padding = data[0] & 0x20;
    const bool extension = data[0] & 0x10;
    const uint8_t csrcCount = data[0] & 0x0F;
    const uint8_t payloadType = data[1] & 0x7F;
    if (IsRTCPConflictPayloadType(payloadType)) return false;

    size_t offset = kRTPFixedHeaderBytes + size_t{csrcCount} * 4;
    if (offset > length) return false;
    size_t extensionOffset = 0, extensionBytes = 0;
    uint16_t extensionId = 0;
    if (extension) {
        if (offset + 4 > length) return false;
        extensionId = Read16(data + offset);
        extensionBytes = size_t{Read16(data + offset + 2)} * 4;
        extensionOffset = offset + 4;
        offset = extensionOffset + extensionBytes;
        if (offset > length) return false;
    }
    size_t end = length;
    if (padding) {
        const uint8_t pad = data[length - 1];
        if (pad == 0 || pad > end - offset) return false;
        end -= pad;
    }

    if (buffer_.size() < length) buffer_.resize(length);
    std::memcpy(buffer_.data(), data, length);
    packetLength_ = length;
    payloadOffset_ = offset;
    payloadLength_ = end - offset;
    extensionOffset_ = extensionOffset;
    extensionLength_ = extensionBytes;
    extensionId_ = extensionId;
    hasExtension_ = extension;
    receiveTime_ = receiveTimeSeconds;
    payloadType_ = payloadType;
    marker_ = data[1] & 0x80;
    csrcCount_ = csrcCount;
    sequence_ = Read16(data + 2);
    extendedSequence_ = sequence_;
    timestamp_ = Read32(data + 4);
    ssrc_ = Read32(data + 8);
    return true;
}

uint32_t RTPPacket::GetCSRC(int index) const {
    if (index < 0 || index >= csrcCount_) return 0;
    return Read32(buffer_.data() + kRTPFixedHeaderBytes + size_t(index) * 4);
}

}  // namespace rtp

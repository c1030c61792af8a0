#include "transport/rtp/rtp_packet.h"

#include <cstring>

namespace rtp {
namespace {
constexpr size_t kFixedHeaderBytes = 12;

uint16_t Read16(const uint8_t* p) { return static_cast<uint16_t>((p[0] << 8) | p[1]); }
uint32_t Read32(const uint8_t* p) {
    return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}
}  // namespace

bool RTPPacket::Parse(const uint8_t* data, size_t length, double receiveTimeSeconds) {
    packetLength_ = payloadLength_ = extensionLength_ = 0;
    hasExtension_ = false;
    if (length < kFixedHeaderBytes) return false;
    if ((data[0] >> 6) != 2) return false;
    const bool padding = data[0] & 0x20;
    const bool extension = data[0] & 0x10;
    const uint8_t csrcCount = data[0] & 0x0F;
    const uint8_t payloadType = data[1] & 0x7F;
    // Payload types 72..76 would be RTCP SR/RR/SDES/BYE/APP seen through the
    // marker bit: not RTP (RFC 3550 A.1, RFC 5761 section 4).
    if (payloadType >= 72 && payloadType <= 76) return false;

    size_t offset = kFixedHeaderBytes + size_t{csrcCount} * 4;
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
    return Read32(buffer_.data() + kFixedHeaderBytes + size_t(index) * 4);
}

}  // namespace rtp

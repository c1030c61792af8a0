#include "transport/rtp/rtp_packet_builder.h"

#include "transport/rtp/rtp_byte_order.h"
#include "transport/rtp/rtp_defaults.h"
#include "transport/rtp/rtp_errors.h"

#include <cmath>
#include <cstring>

namespace rtp {
namespace {
constexpr uint8_t kVersion2 = 0x80;
}  // namespace

RTPPacketBuilder::RTPPacketBuilder(uint32_t ssrc, uint16_t firstSequence, uint32_t firstTimestamp,
                                   size_t maximumPacketSize)
    : maximumPacketSize_(maximumPacketSize), ssrc_(ssrc), sequence_(firstSequence), timestamp_(firstTimestamp) {
    buffer_.resize(maximumPacketSize_);
}

int RTPPacketBuilder::Build(const void* payload, size_t length, uint8_t payloadType, bool marker) {
    if (payloadType > kMaximumPayloadType || IsRTCPConflictPayloadType(payloadType)) return kErrorInvalidParameter;
    if (length > maximumPacketSize_ - kRTPFixedHeaderBytes) return kErrorPacketTooBig;
    uint8_t* p = buffer_.data();
    p[0] = kVersion2;
    p[1] = static_cast<uint8_t>((marker ? 0x80 : 0) | payloadType);
    Write16(p + 2, sequence_);
    Write32(p + 4, timestamp_);
    Write32(p + 8, ssrc_);
    if (length) std::memcpy(p + kRTPFixedHeaderBytes, payload, length);
    packetLength_ = kRTPFixedHeaderBytes + length;
    payloadLength_ = length;
    builtTimestamp_ = timestamp_;
    ++sequence_;
    return 0;
}

void RTPPacketBuilder::RecordSent(double now) {
    hasSent_ = true;
    ++packetCount_;
    octetCount_ += static_cast<uint32_t>(payloadLength_);
    lastSendTime_ = now;
    lastSendTimestamp_ = builtTimestamp_;
}

void RTPPacketBuilder::SetSSRC(uint32_t ssrc) {
    ssrc_ = ssrc;
    hasSent_ = false;
    packetCount_ = 0;
    octetCount_ = 0;
}

void RTPPacketBuilder::SetMaximumPacketSize(size_t bytes) {
    maximumPacketSize_ = bytes;
    buffer_.resize(bytes);
}

uint32_t RTPPacketBuilder::TimestampAt(double now, double timestampUnit) const {
    if (!hasSent_ || timestampUnit <= 0) return timestamp_;
    const double ticks = std::floor((now - lastSendTime_) / timestampUnit);
    return lastSendTimestamp_ + static_cast<uint32_t>(static_cast<int64_t>(ticks));
}

}  // namespace rtp

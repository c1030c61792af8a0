#include "transport/rtp/rtcp_remb.h"

#include "transport/rtp/rtp_byte_order.h"

namespace rtp {

void EncodeREMBRate(uint64_t bitsPerSecond, uint8_t* exponent, uint32_t* mantissa) {
    uint8_t shift = 0;
    while ((bitsPerSecond >> shift) > kREMBMaxMantissa) ++shift;
    *exponent = shift;
    *mantissa = static_cast<uint32_t>(bitsPerSecond >> shift);
}

bool RTCPREMBReader::Parse(const RTCPPacket& packet) {
    constexpr size_t kFixedFCIBytes = 8;
    if (!header_.Parse(packet) || header_.GetPacketType() != kRTCPPayloadFeedback ||
        header_.GetFormat() != kRTCPFeedbackApplicationLayer || header_.GetFCILength() < kFixedFCIBytes)
        return false;
    const uint8_t* fci = header_.GetFCI();
    if (Read32(fci) != kREMBIdentifier) return false;
    const size_t count = fci[4];
    if (header_.GetFCILength() < kFixedFCIBytes + 4 * count) return false;
    const uint8_t exponent = fci[5] >> 2;
    const uint32_t mantissa = (uint32_t(fci[5] & 0x03) << 16) | (uint32_t(fci[6]) << 8) | fci[7];
    if (exponent > 46) return false;  // beyond 64 bits
    bitsPerSecond_ = uint64_t{mantissa} << exponent;
    ssrcs_.clear();
    for (size_t i = 0; i < count; ++i) ssrcs_.push_back(Read32(fci + kFixedFCIBytes + 4 * i));
    return true;
}

}  // namespace rtp

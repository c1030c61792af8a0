// Sender and receiver reports (RFC 3550 6.4): reading and the field layout.
#pragma once

#include "transport/rtp/rtcp_packet.h"
#include "transport/rtp/rtp_source_data.h"

#include <cstddef>
#include <cstdint>

namespace rtp {

constexpr size_t kRTCPSenderInfoBytes = 20;
constexpr size_t kRTCPReportBlockBytes = 24;
constexpr int kRTCPMaximumReportBlocks = 31;

class RTCPReportReader {
public:
    // An SR or RR whose body holds its SSRC, sender info (SR) and every
    // announced report block; false otherwise.
    bool Parse(const RTCPPacket& packet);

    uint32_t GetSenderSSRC() const { return senderSSRC_; }
    bool IsSenderReport() const { return isSenderReport_; }
    const RTCPSenderInfo& GetSenderInfo() const { return senderInfo_; }
    int GetReportBlockCount() const { return blockCount_; }
    RTCPReportBlock GetReportBlock(int index) const;

private:
    const uint8_t* blocks_ = nullptr;
    int blockCount_ = 0;
    uint32_t senderSSRC_ = 0;
    bool isSenderReport_ = false;
    RTCPSenderInfo senderInfo_;
};

void WriteSenderInfo(uint8_t* at, const RTCPSenderInfo& info);
void WriteReportBlock(uint8_t* at, const RTCPReportBlock& block);

}  // namespace rtp

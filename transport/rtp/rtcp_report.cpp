#include "transport/rtp/rtcp_report.h"

#include "transport/rtp/rtp_byte_order.h"

namespace rtp {
namespace {
constexpr uint32_t kSignBit24 = 0x800000;
constexpr uint32_t kMask24 = 0xFFFFFF;
}  // namespace

bool RTCPReportReader::Parse(const RTCPPacket& packet) {
    const uint8_t type = packet.GetPacketType();
    if (type != kRTCPSenderReport && type != kRTCPReceiverReport) return false;
    isSenderReport_ = type == kRTCPSenderReport;
    blockCount_ = packet.GetCount();
    const size_t needed = 4 + (isSenderReport_ ? kRTCPSenderInfoBytes : 0) + blockCount_ * kRTCPReportBlockBytes;
    if (packet.GetBodyLength() < needed) return false;
    const uint8_t* body = packet.GetBody();
    senderSSRC_ = Read32(body);
    const uint8_t* p = body + 4;
    if (isSenderReport_) {
        senderInfo_.ntpMSW = Read32(p);
        senderInfo_.ntpLSW = Read32(p + 4);
        senderInfo_.rtpTimestamp = Read32(p + 8);
        senderInfo_.packetCount = Read32(p + 12);
        senderInfo_.octetCount = Read32(p + 16);
        p += kRTCPSenderInfoBytes;
    }
    blocks_ = p;
    return true;
}

RTCPReportBlock RTCPReportReader::GetReportBlock(int index) const {
    const uint8_t* p = blocks_ + size_t(index) * kRTCPReportBlockBytes;
    RTCPReportBlock block;
    block.ssrc = Read32(p);
    block.fractionLost = p[4];
    const uint32_t lost = Read24(p + 5);
    block.packetsLost = (lost & kSignBit24) ? static_cast<int32_t>(lost) - static_cast<int32_t>(kMask24 + 1)
                                            : static_cast<int32_t>(lost);
    block.extendedHighestSequence = Read32(p + 8);
    block.jitter = Read32(p + 12);
    block.lastSR = Read32(p + 16);
    block.delaySinceLastSR = Read32(p + 20);
    return block;
}

void WriteSenderInfo(uint8_t* at, const RTCPSenderInfo& info) {
    Write32(at, info.ntpMSW);
    Write32(at + 4, info.ntpLSW);
    Write32(at + 8, info.rtpTimestamp);
    Write32(at + 12, info.packetCount);
    Write32(at + 16, info.octetCount);
}

void WriteReportBlock(uint8_t* at, const RTCPReportBlock& block) {
    Write32(at, block.ssrc);
    at[4] = block.fractionLost;
    Write24(at + 5, static_cast<uint32_t>(block.packetsLost) & kMask24);
    Write32(at + 8, block.extendedHighestSequence);
    Write32(at + 12, block.jitter);
    Write32(at + 16, block.lastSR);
    Write32(at + 20, block.delaySinceLastSR);
}

}  // namespace rtp

#include "transport/rtp/rtcp_builder.h"

#include "transport/rtp/rtcp_nack.h"
#include "transport/rtp/rtcp_packet.h"
#include "transport/rtp/rtcp_remb.h"
#include "transport/rtp/rtcp_report.h"
#include "transport/rtp/rtcp_sdes.h"
#include "transport/rtp/rtp_byte_order.h"

#include <cstring>

namespace rtp {
namespace {
constexpr uint8_t kVersion2 = 0x80;
constexpr size_t kMaximumItemBytes = 255;

size_t AlignTo4(size_t bytes) { return (bytes + 3) & ~size_t{3}; }
}  // namespace

size_t RTCPCompoundBuilder::ReportBytes(bool senderReport, int count) {
    return kRTCPHeaderBytes + 4 + (senderReport ? kRTCPSenderInfoBytes : 0) + size_t(count) * kRTCPReportBlockBytes;
}

size_t RTCPCompoundBuilder::SDESCNAMEBytes(size_t cnameLength) {
    // SSRC, item header and text, then at least one null octet to a word boundary.
    return kRTCPHeaderBytes + AlignTo4(4 + 2 + cnameLength + 1);
}

size_t RTCPCompoundBuilder::BYEBytes(size_t reasonLength) {
    return kRTCPHeaderBytes + 4 + (reasonLength ? AlignTo4(1 + reasonLength) : 0);
}

size_t RTCPCompoundBuilder::NACKBytes(size_t entryCount) {
    return kRTCPHeaderBytes + kRTCPFeedbackHeaderBodyBytes + entryCount * kRTCPNACKEntryBytes;
}

size_t RTCPCompoundBuilder::PLIBytes() { return kRTCPHeaderBytes + kRTCPFeedbackHeaderBodyBytes; }

size_t RTCPCompoundBuilder::REMBBytes(size_t ssrcCount) {
    constexpr size_t kFixedFCIBytes = 8;
    return kRTCPHeaderBytes + kRTCPFeedbackHeaderBodyBytes + kFixedFCIBytes + 4 * ssrcCount;
}

uint8_t* RTCPCompoundBuilder::Begin(size_t packetBytes, uint8_t count, uint8_t type) {
    if (packetBytes > buffer_.size() - length_) return nullptr;
    uint8_t* p = buffer_.data() + length_;
    std::memset(p, 0, packetBytes);
    p[0] = static_cast<uint8_t>(kVersion2 | count);
    p[1] = type;
    Write16(p + 2, static_cast<uint16_t>(packetBytes / 4 - 1));
    length_ += packetBytes;
    return p;
}

bool RTCPCompoundBuilder::AddSenderReport(uint32_t ssrc, const RTCPSenderInfo& info, const RTCPReportBlock* blocks,
                                          int count) {
    if (count < 0 || count > kRTCPMaximumReportBlocks) return false;
    uint8_t* p = Begin(ReportBytes(true, count), static_cast<uint8_t>(count), kRTCPSenderReport);
    if (!p) return false;
    Write32(p + 4, ssrc);
    WriteSenderInfo(p + 8, info);
    for (int i = 0; i < count; ++i)
        WriteReportBlock(p + 8 + kRTCPSenderInfoBytes + i * kRTCPReportBlockBytes, blocks[i]);
    return true;
}

bool RTCPCompoundBuilder::AddReceiverReport(uint32_t ssrc, const RTCPReportBlock* blocks, int count) {
    if (count < 0 || count > kRTCPMaximumReportBlocks) return false;
    uint8_t* p = Begin(ReportBytes(false, count), static_cast<uint8_t>(count), kRTCPReceiverReport);
    if (!p) return false;
    Write32(p + 4, ssrc);
    for (int i = 0; i < count; ++i) WriteReportBlock(p + 8 + i * kRTCPReportBlockBytes, blocks[i]);
    return true;
}

bool RTCPCompoundBuilder::AddSDESCNAME(uint32_t ssrc, const uint8_t* cname, size_t cnameLength) {
    if (cnameLength > kMaximumItemBytes) return false;
    uint8_t* p = Begin(SDESCNAMEBytes(cnameLength), 1, kRTCPSourceDescription);
    if (!p) return false;
    Write32(p + 4, ssrc);
    p[8] = kSDESCNAME;
    p[9] = static_cast<uint8_t>(cnameLength);
    if (cnameLength) std::memcpy(p + 10, cname, cnameLength);
    return true;
}

bool RTCPCompoundBuilder::AddBYE(uint32_t ssrc, const uint8_t* reason, size_t reasonLength) {
    if (reasonLength > kMaximumItemBytes) return false;
    uint8_t* p = Begin(BYEBytes(reasonLength), 1, kRTCPBye);
    if (!p) return false;
    Write32(p + 4, ssrc);
    if (reasonLength) {
        p[8] = static_cast<uint8_t>(reasonLength);
        std::memcpy(p + 9, reason, reasonLength);
    }
    return true;
}

bool RTCPCompoundBuilder::AddNACK(uint32_t ssrc, uint32_t mediaSSRC, const uint16_t* lost, size_t count) {
    const std::vector<RTCPNACKEntry> entries = PackNACKEntries(lost, count);
    // The length field counts at most 65535 words after the first.
    if (entries.empty() || NACKBytes(entries.size()) / 4 - 1 > 0xFFFF) return false;
    uint8_t* p = Begin(NACKBytes(entries.size()), kRTCPFeedbackGenericNACK, kRTCPTransportFeedback);
    if (!p) return false;
    Write32(p + 4, ssrc);
    Write32(p + 8, mediaSSRC);
    uint8_t* entry = p + kRTCPHeaderBytes + kRTCPFeedbackHeaderBodyBytes;
    for (const RTCPNACKEntry& e : entries) {
        Write16(entry, e.pid);
        Write16(entry + 2, e.blp);
        entry += kRTCPNACKEntryBytes;
    }
    return true;
}

bool RTCPCompoundBuilder::AddPLI(uint32_t ssrc, uint32_t mediaSSRC) {
    uint8_t* p = Begin(PLIBytes(), kRTCPFeedbackPLI, kRTCPPayloadFeedback);
    if (!p) return false;
    Write32(p + 4, ssrc);
    Write32(p + 8, mediaSSRC);
    return true;
}

bool RTCPCompoundBuilder::AddREMB(uint32_t ssrc, uint64_t bitsPerSecond, const uint32_t* ssrcs, size_t count) {
    if (count > 255) return false;
    uint8_t* p = Begin(REMBBytes(count), kRTCPFeedbackApplicationLayer, kRTCPPayloadFeedback);
    if (!p) return false;
    Write32(p + 4, ssrc);
    Write32(p + 12, kREMBIdentifier);
    uint8_t exponent = 0;
    uint32_t mantissa = 0;
    EncodeREMBRate(bitsPerSecond, &exponent, &mantissa);
    p[16] = static_cast<uint8_t>(count);
    p[17] = static_cast<uint8_t>(exponent << 2 | mantissa >> 16);
    Write16(p + 18, static_cast<uint16_t>(mantissa));
    for (size_t i = 0; i < count; ++i) Write32(p + 20 + 4 * i, ssrcs[i]);
    return true;
}

}  // namespace rtp

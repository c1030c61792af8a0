// Builds one compound RTCP packet: reports first, then SDES, then feedback
// messages (RFC 4585) or an optional BYE (RFC 3550 6.1). Each Add fails, changing nothing, when the
// packet would exceed the maximum size.
#pragma once

#include "transport/rtp/rtp_source_data.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace rtp {

class RTCPCompoundBuilder {
public:
    explicit RTCPCompoundBuilder(size_t maximumBytes) : buffer_(maximumBytes) {}

    void Reset() { length_ = 0; }
    // At most 31 blocks per report.
    bool AddSenderReport(uint32_t ssrc, const RTCPSenderInfo& info, const RTCPReportBlock* blocks, int count);
    bool AddReceiverReport(uint32_t ssrc, const RTCPReportBlock* blocks, int count);
    // One chunk carrying the CNAME (at most 255 bytes).
    bool AddSDESCNAME(uint32_t ssrc, const uint8_t* cname, size_t cnameLength);
    // Reason of at most 255 bytes.
    bool AddBYE(uint32_t ssrc, const uint8_t* reason, size_t reasonLength);
    // A generic NACK for the lost sequence numbers of mediaSSRC (at least one;
    // packed with PackNACKEntries).
    bool AddNACK(uint32_t ssrc, uint32_t mediaSSRC, const uint16_t* lost, size_t count);
    bool AddPLI(uint32_t ssrc, uint32_t mediaSSRC);
    // A receiver estimate of `bitsPerSecond` for the streams of `ssrcs` (at most 255).
    bool AddREMB(uint32_t ssrc, uint64_t bitsPerSecond, const uint32_t* ssrcs, size_t count);

    const uint8_t* GetData() const { return buffer_.data(); }
    size_t GetLength() const { return length_; }
    // Bytes each Add would append.
    static size_t ReportBytes(bool senderReport, int count);
    static size_t SDESCNAMEBytes(size_t cnameLength);
    static size_t BYEBytes(size_t reasonLength);
    static size_t NACKBytes(size_t entryCount);
    static size_t PLIBytes();
    static size_t REMBBytes(size_t ssrcCount);

private:
    uint8_t* Begin(size_t packetBytes, uint8_t count, uint8_t type);

    std::vector<uint8_t> buffer_;
    size_t length_ = 0;
};

}  // namespace rtp

// Builds this session's outgoing RTP packets (RFC 3550 5.1: version 2, no
// padding, extension or CSRC) and keeps the sender state: SSRC, next
// sequence number, current timestamp, defaults, and the counts a sender
// report needs. Not thread-safe: the session holds a lock around it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace rtp {

class RTPPacketBuilder {
public:
    RTPPacketBuilder(uint32_t ssrc, uint16_t firstSequence, uint32_t firstTimestamp, size_t maximumPacketSize);

    // Builds one packet with the current sequence number (which then
    // advances) and timestamp. Errors: payload type above 127 or in the RTCP
    // range 72..76, or a packet above the maximum size.
    int Build(const void* payload, size_t length, uint8_t payloadType, bool marker);
    const uint8_t* GetPacket() const { return buffer_.data(); }
    size_t GetPacketLength() const { return packetLength_; }

    // Counts the packet last built as sent at `now` for sender reports.
    void RecordSent(double now);
    void IncrementTimestamp(uint32_t increment) { timestamp_ += increment; }

    uint32_t GetSSRC() const { return ssrc_; }
    // A new SSRC after a collision: sender counts start again (RFC 3550 8.2).
    void SetSSRC(uint32_t ssrc);
    uint16_t GetNextSequence() const { return sequence_; }
    uint32_t GetTimestamp() const { return timestamp_; }

    // The transmitter has checked the size.
    void SetMaximumPacketSize(size_t bytes);
    size_t GetMaximumPacketSize() const { return maximumPacketSize_; }

    uint8_t defaultPayloadType = 0;
    bool defaultMark = false;
    uint32_t defaultTimestampIncrement = 0;

    // Sender report material.
    bool HasSent() const { return hasSent_; }
    uint32_t GetPacketCount() const { return packetCount_; }
    uint32_t GetOctetCount() const { return octetCount_; }
    double GetLastSendTime() const { return lastSendTime_; }
    // The RTP timestamp that corresponds to `now`, extrapolated from the
    // last packet sent with the session's timestamp unit.
    uint32_t TimestampAt(double now, double timestampUnit) const;

private:
    std::vector<uint8_t> buffer_;
    size_t packetLength_ = 0;
    size_t payloadLength_ = 0;
    size_t maximumPacketSize_;
    uint32_t ssrc_;
    uint16_t sequence_;
    uint32_t timestamp_;
    uint32_t builtTimestamp_ = 0;
    bool hasSent_ = false;
    uint32_t packetCount_ = 0;
    uint32_t octetCount_ = 0;
    double lastSendTime_ = 0;
    uint32_t lastSendTimestamp_ = 0;
};

}  // namespace rtp

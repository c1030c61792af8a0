// One received RTP packet (RFC 3550 section 5.1), parsed in place over its
// own datagram buffer. Sessions keep these in a pool and reuse the buffer, so
// steady-state reception allocates nothing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace rtp {

class RTPPacketPool;

class RTPPacket {
public:
    RTPPacket() = default;
    RTPPacket(const RTPPacket&) = delete;
    RTPPacket& operator=(const RTPPacket&) = delete;

    // Copies the datagram into this packet and parses it. Returns false, and
    // leaves the packet unusable, when the bytes are not a valid RTP packet
    // (version 2, header, CSRC list, extension and padding within the length).
    bool Parse(const uint8_t* data, size_t length, double receiveTimeSeconds);

    uint8_t GetPayloadType() const { return payloadType_; }
    bool HasMarker() const { return marker_; }
    uint16_t GetSequenceNumber() const { return sequence_; }
    // Sequence number extended with the source's cycle count (set by the session).
    uint32_t GetExtendedSequenceNumber() const { return extendedSequence_; }
    void SetExtendedSequenceNumber(uint32_t value) { extendedSequence_ = value; }
    uint32_t GetTimestamp() const { return timestamp_; }
    uint32_t GetSSRC() const { return ssrc_; }
    uint8_t GetCSRCCount() const { return csrcCount_; }
    uint32_t GetCSRC(int index) const;
    bool HasExtension() const { return hasExtension_; }
    uint16_t GetExtensionID() const { return extensionId_; }
    const uint8_t* GetExtensionData() const { return buffer_.data() + extensionOffset_; }
    size_t GetExtensionLength() const { return extensionLength_; }

    const uint8_t* GetPayloadData() const { return buffer_.data() + payloadOffset_; }
    size_t GetPayloadLength() const { return payloadLength_; }
    const uint8_t* GetPacketData() const { return buffer_.data(); }
    size_t GetPacketLength() const { return packetLength_; }
    double GetReceiveTime() const { return receiveTime_; }

    // Intrusive link for the owner's free list or queue.
    RTPPacket* next = nullptr;

private:
    friend class RTPPacketPool;
    // Which pool made it and whether it sits there now: a packet returned
    // twice, or to the wrong session, is refused instead of corrupting a list.
    const RTPPacketPool* pool_ = nullptr;
    bool inPool_ = false;

    std::vector<uint8_t> buffer_;
    size_t packetLength_ = 0;
    size_t payloadOffset_ = 0;
    size_t payloadLength_ = 0;
    size_t extensionOffset_ = 0;
    size_t extensionLength_ = 0;
    double receiveTime_ = 0;
    uint32_t timestamp_ = 0;
    uint32_t ssrc_ = 0;
    uint32_t extendedSequence_ = 0;
    uint16_t sequence_ = 0;
    uint16_t extensionId_ = 0;
    uint8_t payloadType_ = 0;
    uint8_t csrcCount_ = 0;
    bool marker_ = false;
    bool hasExtension_ = false;
};

}  // namespace rtp

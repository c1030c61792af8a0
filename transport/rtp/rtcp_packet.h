// Read-only views of RTCP packets (RFC 3550 section 6) over a received
// datagram. They own nothing and live only during the callback that gets them.
#pragma once

#include <cstddef>
#include <cstdint>

namespace rtp {

enum RTCPPacketType : uint8_t {
    kRTCPSenderReport = 200,
    kRTCPReceiverReport = 201,
    kRTCPSourceDescription = 202,
    kRTCPBye = 203,
    kRTCPApplication = 204,
    kRTCPTransportFeedback = 205,  // RFC 4585
    kRTCPPayloadFeedback = 206,
};

constexpr size_t kRTCPHeaderBytes = 4;

// One packet of a compound: the common header and the bytes it announces.
class RTCPPacket {
public:
    RTCPPacket() = default;
    RTCPPacket(const uint8_t* data, size_t length) : data_(data), length_(length) {}

    uint8_t GetPacketType() const { return data_[1]; }
    // The five-bit count field (report blocks, chunks or sources; APP subtype;
    // feedback message format).
    uint8_t GetCount() const { return data_[0] & 0x1F; }
    bool HasPadding() const { return data_[0] & 0x20; }
    const uint8_t* GetPacketData() const { return data_; }
    // Header included, padding included.
    size_t GetPacketLength() const { return length_; }
    // The bytes after the header, without padding.
    const uint8_t* GetBody() const { return data_ + kRTCPHeaderBytes; }
    size_t GetBodyLength() const;

private:
    const uint8_t* data_ = nullptr;
    size_t length_ = 0;
};

// A compound RTCP datagram, checked as RFC 3550 A.2 asks: version 2, the
// first packet a report, padding only in the last one, and packet lengths
// that add up to the datagram's length.
class RTCPCompoundPacket {
public:
    // Returns false when the bytes fail the checks; the view is then empty.
    bool Parse(const uint8_t* data, size_t length);

    const uint8_t* GetCompoundPacketData() const { return data_; }
    size_t GetCompoundPacketLength() const { return length_; }

    // Walks the packets in order: GotoFirstPacket, then GetNextPacket until false.
    void GotoFirstPacket() { offset_ = 0; }
    bool GetNextPacket(RTCPPacket* packet);

private:
    const uint8_t* data_ = nullptr;
    size_t length_ = 0;
    size_t offset_ = 0;
};

// An application-defined packet (type 204).
class RTCPAPPPacket {
public:
    // Returns false when the packet is too short to be an APP packet.
    bool Parse(const RTCPPacket& packet);

    uint8_t GetSubType() const { return subType_; }
    uint32_t GetSSRC() const { return ssrc_; }
    // Four ASCII bytes, not terminated.
    const uint8_t* GetName() const { return name_; }
    const uint8_t* GetAPPData() const { return appData_; }
    size_t GetAPPDataLength() const { return appDataLength_; }

private:
    uint8_t subType_ = 0;
    uint32_t ssrc_ = 0;
    const uint8_t* name_ = nullptr;
    const uint8_t* appData_ = nullptr;
    size_t appDataLength_ = 0;
};

}  // namespace rtp

// Feedback messages (RFC 4585 6.1): the common layout of transport-layer
// (205) and payload-specific (206) feedback, read over a received packet.
//
//  0                   1                   2                   3
//  0 1 2 3 4 5 6 7 8 9 0 1 2 3 4 5 6 7 8 9 0 1 2 3 4 5 6 7 8 9 0 1
// +-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+
// |V=2|P|   FMT   |       PT      |          length               |
// +-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+
// |                  SSRC of packet sender                        |
// +-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+
// |                  SSRC of media source                         |
// +-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+
// :            Feedback Control Information (FCI)                 :
#pragma once

#include "transport/rtp/rtcp_packet.h"

#include <cstddef>
#include <cstdint>

namespace rtp {

// FMT values of the messages this layer reads and builds.
constexpr uint8_t kRTCPFeedbackGenericNACK = 1;  // in a transport-layer packet
constexpr uint8_t kRTCPFeedbackPLI = 1;          // in a payload-specific packet

// Both SSRCs: the smallest feedback packet body.
constexpr size_t kRTCPFeedbackHeaderBodyBytes = 8;

// What a session reports of a received feedback message.
enum class RTCPFeedbackKind { kGenericNACK, kPictureLoss, kReceiverEstimate };

// One message of a feedback compound to send: a generic NACK of lostCount
// sequence numbers at `lost`, a picture loss indication (no numbers), or a
// receiver estimate of bitsPerSecond for mediaSSRC's stream.
struct RTCPFeedbackRequest {
    RTCPFeedbackKind kind = RTCPFeedbackKind::kPictureLoss;
    uint32_t mediaSSRC = 0;
    const uint16_t* lost = nullptr;
    size_t lostCount = 0;
    uint64_t bitsPerSecond = 0;
};

class RTCPFeedbackReader {
public:
    // False unless the packet is of type 205 or 206 and holds both SSRCs.
    bool Parse(const RTCPPacket& packet);

    uint8_t GetPacketType() const { return type_; }
    uint8_t GetFormat() const { return format_; }
    uint32_t GetSenderSSRC() const { return senderSSRC_; }
    uint32_t GetMediaSSRC() const { return mediaSSRC_; }
    const uint8_t* GetFCI() const { return fci_; }
    size_t GetFCILength() const { return fciLength_; }

private:
    uint8_t type_ = 0;
    uint8_t format_ = 0;
    uint32_t senderSSRC_ = 0;
    uint32_t mediaSSRC_ = 0;
    const uint8_t* fci_ = nullptr;
    size_t fciLength_ = 0;
};

}  // namespace rtp

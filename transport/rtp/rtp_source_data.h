// What a session knows about one other participant (one SSRC): validation
// state, addresses, the last sender report it sent, the report it gave about
// us, our reception statistics of its data, its SDES items and BYE, and the
// received packets waiting to be taken. Read it between BeginDataAccess and
// EndDataAccess only.
#pragma once

#include "transport/rtp/rtp_ipv4_address.h"
#include "transport/rtp/rtp_jitter.h"
#include "transport/rtp/rtp_sequence.h"

#include <cstddef>
#include <cstdint>
#include <list>
#include <string>

namespace rtp {

class RTPPacket;

// Sender information of an SR (RFC 3550 6.4.1).
struct RTCPSenderInfo {
    uint32_t ntpMSW = 0;
    uint32_t ntpLSW = 0;
    uint32_t rtpTimestamp = 0;
    uint32_t packetCount = 0;
    uint32_t octetCount = 0;
};

// One reception report block (RFC 3550 6.4.1).
struct RTCPReportBlock {
    uint32_t ssrc = 0;
    uint8_t fractionLost = 0;  // in 1/256
    int32_t packetsLost = 0;   // cumulative, signed 24 bits
    uint32_t extendedHighestSequence = 0;
    uint32_t jitter = 0;
    uint32_t lastSR = 0;
    uint32_t delaySinceLastSR = 0;  // in 1/65536 s
};

class RTPSourceData {
public:
    explicit RTPSourceData(uint32_t ssrc) : ssrc_(ssrc) {}
    RTPSourceData(const RTPSourceData&) = delete;
    RTPSourceData& operator=(const RTPSourceData&) = delete;

    uint32_t GetSSRC() const { return ssrc_; }
    // Its RTP passed probation (RFC 3550 A.1), at once when it announced a
    // CNAME first (6.2.1). Only validated sources count as members: RTCP
    // alone costs a stranger nothing to fake.
    bool IsValidated() const { return validated_; }
    // Sent RTP data within the sender time-out.
    bool IsSender() const { return isSender_; }
    bool ReceivedBYE() const { return receivedBYE_; }
    const uint8_t* GetBYEReason(size_t* length) const;

    // Where its RTP and RTCP came from; null until a packet of that kind arrived.
    const RTPIPv4Address* GetRTPDataAddress() const { return hasRTPAddress_ ? &rtpAddress_ : nullptr; }
    const RTPIPv4Address* GetRTCPDataAddress() const { return hasRTCPAddress_ ? &rtcpAddress_ : nullptr; }

    // Its latest sender report.
    bool SR_HasInfo() const { return hasSenderInfo_; }
    uint32_t SR_GetNTPTimestampMSW() const { return senderInfo_.ntpMSW; }
    uint32_t SR_GetNTPTimestampLSW() const { return senderInfo_.ntpLSW; }
    uint32_t SR_GetRTPTimestamp() const { return senderInfo_.rtpTimestamp; }
    uint32_t SR_GetPacketCount() const { return senderInfo_.packetCount; }
    uint32_t SR_GetByteCount() const { return senderInfo_.octetCount; }
    double SR_GetReceiveTime() const { return senderInfoTime_; }

    // The report block about this session's own data in its latest SR or RR.
    bool RR_HasInfo() const { return hasReportAboutUs_; }
    uint8_t RR_GetFractionLost() const { return reportAboutUs_.fractionLost; }
    int32_t RR_GetPacketsLost() const { return reportAboutUs_.packetsLost; }
    uint32_t RR_GetExtendedHighestSequenceNumber() const { return reportAboutUs_.extendedHighestSequence; }
    uint32_t RR_GetJitter() const { return reportAboutUs_.jitter; }
    uint32_t RR_GetLastSRTimestamp() const { return reportAboutUs_.lastSR; }
    uint32_t RR_GetDelaySinceLastSR() const { return reportAboutUs_.delaySinceLastSR; }
    double RR_GetReceiveTime() const { return reportAboutUsTime_; }

    // This session's reception statistics of its RTP data. Jitter is in this
    // session's own timestamp units: both ends of a session share a media clock.
    uint32_t INF_GetNumPacketsReceived() const { return sequence_.GetReceived(); }
    uint32_t INF_GetBaseSequenceNumber() const { return sequence_.GetBaseSequence(); }
    uint32_t INF_GetExtendedHighestSequenceNumber() const { return sequence_.GetExtendedHighest(); }
    int32_t INF_GetNumPacketsLost() const { return sequence_.GetCumulativeLost(); }
    // Fraction lost (1/256) of the interval our last report about it covered.
    uint8_t INF_GetFractionLost() const { return lastFractionLost_; }
    uint32_t INF_GetJitter() const { return jitter_.GetJitter(); }
    double INF_GetLastRTPPacketTime() const { return lastRTPTime_; }

    // SDES items; null with length 0 when not received.
    const uint8_t* SDES_GetCNAME(size_t* length) const { return Item(cname_, length); }
    const uint8_t* SDES_GetNote(size_t* length) const { return Item(note_, length); }

    // Whether received packets are waiting to be taken with GetNextPacket.
    bool HasData() const { return queueHead_ != nullptr && !sequence_.InProbation(); }

private:
    friend class RTPSources;
    static const uint8_t* Item(const std::string& item, size_t* length);

    uint32_t ssrc_;
    bool validated_ = false;
    bool isSender_ = false;
    bool receivedBYE_ = false;
    bool hasRTPAddress_ = false;
    bool hasRTCPAddress_ = false;
    bool hasSenderInfo_ = false;
    bool hasReportAboutUs_ = false;
    bool sequenceStarted_ = false;
    // Set when RTP arrived since our last report: only then it gets a block.
    bool receivedSinceReport_ = false;
    RTPIPv4Address rtpAddress_;
    RTPIPv4Address rtcpAddress_;
    RTCPSenderInfo senderInfo_;
    double senderInfoTime_ = 0;
    RTCPReportBlock reportAboutUs_;
    double reportAboutUsTime_ = 0;
    RTPSequenceValidator sequence_;
    uint8_t lastFractionLost_ = 0;
    RTPJitterEstimator jitter_;
    std::string cname_;
    std::string note_;
    std::string byeReason_;
    double lastRTPTime_ = 0;
    double lastHeardTime_ = 0;  // any RTP or RTCP
    double noteTime_ = 0;
    double byeTime_ = 0;
    // Received packets, oldest first: all held back while in probation.
    RTPPacket* queueHead_ = nullptr;
    RTPPacket* queueTail_ = nullptr;
    // Its place in the table's age order of unvalidated sources.
    std::list<uint32_t>::iterator unvalidatedEntry_;
};

}  // namespace rtp

// Settings of an RTP session, fixed at Create.
#pragma once

#include "transport/rtp/rtp_defaults.h"

#include <string>

namespace rtp {

class RTPClock;
class RTPRandom;

class RTPSessionParams {
public:
    // Seconds per RTP timestamp tick (1/8000 for 8 kHz audio). Required: the
    // session refuses to be created while it is 0.
    void SetOwnTimestampUnit(double seconds) { timestampUnit_ = seconds; }
    double GetOwnTimestampUnit() const { return timestampUnit_; }

    // Whether packets carrying this session's own SSRC and coming from this
    // host's own sockets are kept (true) or dropped (false, default).
    void SetAcceptOwnPackets(bool accept) { acceptOwnPackets_ = accept; }
    bool AcceptOwnPackets() const { return acceptOwnPackets_; }

    // With the poll thread (default) the session receives, sends RTCP and
    // checks time-outs by itself; without it the owner calls Poll.
    void SetUsePollThread(bool use) { usePollThread_ = use; }
    bool IsUsingPollThread() const { return usePollThread_; }

    void SetMaximumPacketSize(size_t bytes) { maximumPacketSize_ = bytes; }
    size_t GetMaximumPacketSize() const { return maximumPacketSize_; }

    // Received datagrams longer than these (1..65535) are dropped unread, on
    // the RTP socket and on the RTCP socket. Set them to the largest a peer
    // sends, so that a stranger's large datagrams cost nothing to hold.
    void SetMaximumReceivedRTPBytes(size_t bytes) { maximumReceivedRTP_ = bytes; }
    size_t GetMaximumReceivedRTPBytes() const { return maximumReceivedRTP_; }
    void SetMaximumReceivedRTCPBytes(size_t bytes) { maximumReceivedRTCP_ = bytes; }
    size_t GetMaximumReceivedRTCPBytes() const { return maximumReceivedRTCP_; }

    void SetSessionBandwidth(double bytesPerSecond) { sessionBandwidth_ = bytesPerSecond; }
    double GetSessionBandwidth() const { return sessionBandwidth_; }
    void SetControlTrafficFraction(double fraction) { controlFraction_ = fraction; }
    double GetControlTrafficFraction() const { return controlFraction_; }
    void SetSenderControlBandwidthFraction(double fraction) { senderFraction_ = fraction; }
    double GetSenderControlBandwidthFraction() const { return senderFraction_; }
    void SetMinimumRTCPTransmissionInterval(double seconds) { minimumInterval_ = seconds; }
    double GetMinimumRTCPTransmissionInterval() const { return minimumInterval_; }
    void SetUseHalfRTCPIntervalAtStartup(bool use) { halfIntervalAtStartup_ = use; }
    bool GetUseHalfRTCPIntervalAtStartup() const { return halfIntervalAtStartup_; }
    // Send a BYE at once in sessions of fewer than 50 members (RFC 3550 6.3.7).
    void SetRequestImmediateBYE(bool immediate) { immediateBYE_ = immediate; }
    bool GetRequestImmediateBYE() const { return immediateBYE_; }
    // Whether the compound packet carrying our BYE starts with a sender report
    // (when we have sent data) instead of an empty receiver report.
    void SetSenderReportForBYE(bool senderReport) { senderReportForBYE_ = senderReport; }
    bool GetSenderReportForBYE() const { return senderReportForBYE_; }

    // Time-outs, in multiples of the deterministic RTCP interval.
    void SetSenderTimeoutMultiplier(double m) { senderTimeout_ = m; }
    double GetSenderTimeoutMultiplier() const { return senderTimeout_; }
    void SetSourceTimeoutMultiplier(double m) { memberTimeout_ = m; }
    double GetSourceTimeoutMultiplier() const { return memberTimeout_; }
    void SetBYETimeoutMultiplier(double m) { byeTimeout_ = m; }
    double GetBYETimeoutMultiplier() const { return byeTimeout_; }
    void SetCollisionTimeoutMultiplier(double m) { collisionTimeout_ = m; }
    double GetCollisionTimeoutMultiplier() const { return collisionTimeout_; }
    void SetNoteTimeoutMultiplier(double m) { noteTimeout_ = m; }
    double GetNoteTimeoutMultiplier() const { return noteTimeout_; }

    // Canonical name sent in SDES; empty (default) means "user@host".
    void SetCNAME(const std::string& cname) { cname_ = cname; }
    const std::string& GetCNAME() const { return cname_; }

    // Not owned; must outlive the session. Null (default) selects the
    // process-wide system clock and random source.
    void SetClock(RTPClock* clock) { clock_ = clock; }
    RTPClock* GetClock() const { return clock_; }
    void SetRandom(RTPRandom* random) { random_ = random; }
    RTPRandom* GetRandom() const { return random_; }

private:
    double timestampUnit_ = 0;
    bool acceptOwnPackets_ = false;
    bool usePollThread_ = true;
    size_t maximumPacketSize_ = kDefaultMaximumPacketBytes;
    size_t maximumReceivedRTP_ = kMaximumDatagramBytes;
    size_t maximumReceivedRTCP_ = kMaximumDatagramBytes;
    double sessionBandwidth_ = kDefaultSessionBandwidthBytesPerSecond;
    double controlFraction_ = kDefaultControlTrafficFraction;
    double senderFraction_ = kDefaultSenderControlFraction;
    double minimumInterval_ = kDefaultMinimumRTCPIntervalSeconds;
    bool halfIntervalAtStartup_ = true;
    bool immediateBYE_ = true;
    bool senderReportForBYE_ = true;
    double senderTimeout_ = kDefaultSenderTimeoutMultiplier;
    double memberTimeout_ = kDefaultMemberTimeoutMultiplier;
    double byeTimeout_ = kDefaultBYETimeoutMultiplier;
    double collisionTimeout_ = kDefaultCollisionTimeoutMultiplier;
    double noteTimeout_ = kDefaultNoteTimeoutMultiplier;
    std::string cname_;
    RTPClock* clock_ = nullptr;
    RTPRandom* random_ = nullptr;
};

}  // namespace rtp

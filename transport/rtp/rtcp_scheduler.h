// When to send the next RTCP compound: the interval computation of RFC 3550
// A.7 with timer reconsideration (a report is sent only when the interval,
// recomputed at expiry, has really elapsed since the last one), reverse
// reconsideration when members leave, and the average compound size.
// Not thread-safe: the session's data-access lock guards it.
#pragma once

#include <cstddef>

namespace rtp {

class RTPRandom;

struct RTCPSchedulerSettings {
    double sessionBandwidth;  // bytes per second
    double controlFraction;
    double senderFraction;
    double minimumInterval;  // seconds
    bool halfIntervalAtStartup;
};

// Counts as of now; members and senders include this session.
struct RTCPMembership {
    int members;
    int senders;
    bool weSent;
};

class RTCPScheduler {
public:
    RTCPScheduler(const RTCPSchedulerSettings& settings, RTPRandom& random);

    // The interval before randomisation (A.7 rtcp_interval without its
    // last two steps); with initial set the minimum is halved when the
    // settings ask for it.
    double DeterministicInterval(const RTCPMembership& membership, bool initial) const;
    // Multiplied by a random factor in [0.5, 1.5) and divided by e - 3/2.
    double RandomizedInterval(const RTCPMembership& membership, bool initial) const;
    // The interval the time-outs are counted in (never halved).
    double TimeoutInterval(const RTCPMembership& membership) const;

    // The session starts: first report after one (initial) interval.
    void Start(double now, double firstCompoundBytes, const RTCPMembership& membership);
    double GetNextTime() const { return next_; }

    // Called at or after GetNextTime: true when the report is due now;
    // otherwise the report is rescheduled (reconsideration).
    bool IsTimeToSend(double now, const RTCPMembership& membership);
    // A report of `compoundBytes` (without IP/UDP overhead) went out at `now`.
    void OnSent(double now, size_t compoundBytes, const RTCPMembership& membership);
    // A due report could not be sent: try again one interval later instead
    // of at once, so a failing send cannot spin the poll thread.
    void Postpone(double now, const RTCPMembership& membership);
    void OnReceived(size_t compoundBytes);
    // Members left (BYE or time-out): pull the next report closer (A.7).
    void OnMembersDecreased(double now, int members);

    // Whether data sent at lastSendTime still makes us a sender: sent since
    // the report before the last one (RFC 3550 6.3.8).
    bool IsRecentSend(double lastSendTime) const { return lastSendTime >= secondPreviousSend_; }

    // Delay of a BYE in a session too large for an immediate one (6.3.7).
    double BYEDelay(size_t byeCompoundBytes) const;

    double GetAverageCompoundBytes() const { return averageBytes_; }

private:
    void UpdateAverage(size_t compoundBytes);

    RTCPSchedulerSettings settings_;
    RTPRandom& random_;
    double averageBytes_ = 0;
    double previousSend_ = 0;        // tp
    double secondPreviousSend_ = 0;  // the report before tp
    double next_ = 0;                // tn
    int previousMembers_ = 1;        // pmembers
    bool initial_ = true;
    bool hasSent_ = false;
};

}  // namespace rtp

#include "transport/rtp/rtcp_scheduler.h"

#include "transport/rtp/rtp_defaults.h"
#include "transport/rtp/rtp_random.h"

namespace rtp {
namespace {
constexpr double kAverageGain = 1.0 / 16.0;
}

RTCPScheduler::RTCPScheduler(const RTCPSchedulerSettings& settings, RTPRandom& random)
    : settings_(settings), random_(random) {}

double RTCPScheduler::DeterministicInterval(const RTCPMembership& membership, bool initial) const {
    double minimum = settings_.minimumInterval;
    if (initial && settings_.halfIntervalAtStartup) minimum /= 2;
    double bandwidth = settings_.sessionBandwidth * settings_.controlFraction;
    double n = membership.members;
    // Senders get their share of the control bandwidth only while they are few.
    if (membership.senders <= membership.members * settings_.senderFraction) {
        if (membership.weSent) {
            bandwidth *= settings_.senderFraction;
            n = membership.senders;
        } else {
            bandwidth *= 1.0 - settings_.senderFraction;
            n -= membership.senders;
        }
    }
    const double interval = averageBytes_ * n / bandwidth;
    return interval < minimum ? minimum : interval;
}

double RTCPScheduler::RandomizedInterval(const RTCPMembership& membership, bool initial) const {
    const double factor = kIntervalRandomLow + random_.GetRandomDouble() * (kIntervalRandomHigh - kIntervalRandomLow);
    return DeterministicInterval(membership, initial) * factor / kIntervalCompensation;
}

double RTCPScheduler::TimeoutInterval(const RTCPMembership& membership) const {
    return DeterministicInterval(membership, false);
}

void RTCPScheduler::Start(double now, double firstCompoundBytes, const RTCPMembership& membership) {
    averageBytes_ = firstCompoundBytes + kIPv4UDPOverheadBytes;
    initial_ = true;
    hasSent_ = false;
    previousSend_ = secondPreviousSend_ = now;
    previousMembers_ = membership.members;
    next_ = now + RandomizedInterval(membership, initial_);
}

bool RTCPScheduler::IsTimeToSend(double now, const RTCPMembership& membership) {
    if (now < next_) return false;
    previousMembers_ = membership.members;
    // The first report goes at its first expiry (A.7 starts with tp = 0).
    if (!hasSent_) return true;
    const double candidate = previousSend_ + RandomizedInterval(membership, initial_);
    if (candidate <= now) return true;
    next_ = candidate;
    return false;
}

void RTCPScheduler::OnSent(double now, size_t compoundBytes, const RTCPMembership& membership) {
    UpdateAverage(compoundBytes);
    secondPreviousSend_ = previousSend_;
    previousSend_ = now;
    hasSent_ = true;
    // Redrawn rather than reused: the interval that let this report go was
    // conditioned on being short enough.
    next_ = now + RandomizedInterval(membership, initial_);
    initial_ = false;
}

void RTCPScheduler::Postpone(double now, const RTCPMembership& membership) {
    next_ = now + RandomizedInterval(membership, initial_);
}

void RTCPScheduler::OnReceived(size_t compoundBytes) { UpdateAverage(compoundBytes); }

void RTCPScheduler::OnMembersDecreased(double now, int members) {
    if (members >= previousMembers_) return;
    const double ratio = static_cast<double>(members) / previousMembers_;
    if (next_ > now) next_ = now + ratio * (next_ - now);
    if (hasSent_) previousSend_ = now - ratio * (now - previousSend_);
    previousMembers_ = members;
}

double RTCPScheduler::BYEDelay(size_t byeCompoundBytes) const {
    RTCPScheduler bye(settings_, random_);
    bye.averageBytes_ = byeCompoundBytes + kIPv4UDPOverheadBytes;
    return bye.RandomizedInterval({1, 0, false}, true);
}

void RTCPScheduler::UpdateAverage(size_t compoundBytes) {
    averageBytes_ += (compoundBytes + kIPv4UDPOverheadBytes - averageBytes_) * kAverageGain;
}

}  // namespace rtp

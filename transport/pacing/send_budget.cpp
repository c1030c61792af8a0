#include "transport/pacing/send_budget.h"

#include <algorithm>

namespace pacing {
namespace {
double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

bool Fresh(const PeerReport& peer, double now) {
    return peer.hasEstimate && now - peer.estimateAt < kEstimateLifetimeSeconds && peer.estimateBitsPerSecond > 0;
}

// More than half of them, and at least one.
bool Most(size_t count, size_t of) { return of > 0 && count * 2 > of; }
}  // namespace

double SendBudget::StreamBitsPerSecond() const {
    return std::min({byLoss_ ? lossBased_ : kMaxStreamBitsPerSecond, byDelay_ ? delayBased_ : kMaxStreamBitsPerSecond,
                     jitterCap_});
}

double SendBudget::VideoBitsPerSecond() const {
    return std::max(0.0, StreamBitsPerSecond() - kVoiceStreamBitsPerSecond);
}

std::vector<int> SendBudget::HeldPeers(double now) const {
    std::vector<int> held;
    for (const auto& [userId, until] : heldUntil_)
        if (now < until) held.push_back(userId);
    return held;
}

void SendBudget::Update(double now, const std::vector<PeerReport>& peers, double sending) {
    if (lastDecision_ < 0 && !peers.empty())
        lossBased_ = std::max(kStartStreamLeastBitsPerSecond, kStartUplinkBitsPerSecond / peers.size());
    std::vector<double> ours, theirs;
    for (const PeerReport& peer : peers) {
        ours.push_back(peer.voiceJitterSeconds);
        theirs.push_back(peer.theirVoiceJitterSeconds);
    }
    const bool jittery =
        !peers.empty() && Median(ours) > kThinUplinkJitterSeconds + kThinUplinkJitterRatio * Median(theirs);
    const double elapsed = std::clamp(now - lastUpdate_, 0.0, 1.0);
    lastUpdate_ = now;
    if (jittery) {
        lastJittery_ = now;
        if (jitterySince_ < 0) jitterySince_ = now;
        // The first answer to it is pacing (Congested): only jitter that
        // outlasts that is the rate's.
        if (sending > 0 && now - jitterySince_ >= kJitterCutSpacingSeconds &&
            now - lastJitterCut_ >= kJitterCutSpacingSeconds) {
            const double cut = (sending + kVoiceStreamBitsPerSecond) * kJitterBackoff;
            jitterCap_ = std::max(kStartStreamLeastBitsPerSecond, std::min(jitterCap_, cut));
            lastJitterCut_ = now;
        }
    } else {
        jitterySince_ = -1;
        jitterCap_ = std::min(kMaxStreamBitsPerSecond, jitterCap_ * (1 + kJitterCapGrowthPerSecond * elapsed));
    }
    byLoss_ = byDelay_ = false;
    for (const PeerReport& peer : peers) {
        // A peer whose video is held has none to judge, and estimates
        // again only a while after it gets video back: it does not make
        // the budget fall back to loss.
        const auto held = heldUntil_.find(peer.userId);
        const bool heldLately = held != heldUntil_.end() && now < held->second + kEstimateLifetimeSeconds;
        if (Fresh(peer, now))
            byDelay_ = true;
        else if (!heldLately)
            byLoss_ = true;
    }
    UpdateLossBased(now, peers, sending);
    UpdateDelayBased(now, peers, sending, elapsed);
}

void SendBudget::UpdateLossBased(double now, const std::vector<PeerReport>& peers, double sending) {
    std::vector<const PeerReport*> fresh;
    double roundTrip = 0;
    for (const PeerReport& peer : peers) {
        if (!peer.hasReport || seenReports_[peer.userId] == peer.reportNumber) continue;
        // A peer that sends estimates judges its path by delay, which also
        // tells a queue of its own from ours: its loss is left to that.
        if (Fresh(peer, now)) continue;
        fresh.push_back(&peer);
        roundTrip = std::max(roundTrip, peer.roundTripSeconds);
    }
    if (fresh.empty() || now - lastDecision_ < roundTrip + kDecisionSpacingSeconds) return;
    size_t lossy = 0, increasing = 0, queuedCount = 0;
    std::vector<double> losses;
    std::vector<int> lossyPeers;
    for (const PeerReport* peer : fresh) {
        seenReports_[peer->userId] = peer->reportNumber;
        double& least = leastRoundTrip_.try_emplace(peer->userId, peer->roundTripSeconds).first->second;
        if (peer->roundTripSeconds > 0)
            least = std::min(least > 0 ? least : peer->roundTripSeconds, peer->roundTripSeconds);
        const bool queued = peer->roundTripSeconds - least > kQueueEvidenceSeconds;
        queuedCount += queued ? 1 : 0;
        if (peer->fractionLost > kLossDecreaseAbove && (queued || peer->fractionLost > kLossWithoutEvidence)) {
            ++lossy;
            losses.push_back(peer->fractionLost);
            lossyPeers.push_back(peer->userId);
        } else if (peer->fractionLost < kLossIncreaseBelow && !queued) {
            ++increasing;
        }
    }
    lastDecision_ = now;
    // A cut starts from what is sent when that is less: a rate the coder
    // never used would take several cuts to bind.
    const double cutFrom = sending > 0 ? std::min(lossBased_, sending + kVoiceStreamBitsPerSecond) : lossBased_;
    if (Most(lossy, fresh.size()) || (lossy > 0 && fresh.size() == 1)) {
        lossBased_ = cutFrom * (1 - 0.5 * Median(losses));
        lastCut_ = now;
    } else if (lossy > 0) {
        for (const int userId : lossyPeers) heldUntil_[userId] = now + kHoldSeconds;
    } else if (Most(queuedCount, fresh.size())) {
        // A queue on the way to most peers before any loss: the uplink's,
        // which a tail-dropping router fills for long before it drops. It
        // says nothing of voice not fitting: never below voice and the
        // ladder's lowest full frame rate.
        lossBased_ = std::max(std::min(lossBased_, kStartStreamLeastBitsPerSecond), cutFrom * kRoundTripBackoff);
        lastCut_ = now;
    } else if (increasing == fresh.size()) {
        lossBased_ = std::min(kMaxStreamBitsPerSecond, lossBased_ * (1 + kLossIncreaseShare));
    }
}

void SendBudget::UpdateDelayBased(double now, const std::vector<PeerReport>& peers, double sending, double elapsed) {
    std::vector<double> estimates;
    const std::vector<int> held = HeldPeers(now);
    for (const PeerReport& peer : peers) {
        if (!Fresh(peer, now) || std::find(held.begin(), held.end(), peer.userId) != held.end()) continue;
        estimates.push_back(peer.estimateBitsPerSecond + kVoiceStreamBitsPerSecond);
    }
    const bool byDelayBefore = byDelayBefore_;
    byDelayBefore_ = !estimates.empty();
    if (estimates.empty()) {
        // No video arrives anywhere to judge: probe upwards slowly.
        delayBased_ = std::min(kMaxStreamBitsPerSecond, delayBased_ * (1 + kProbeSharePerSecond * elapsed));
        return;
    }
    // The receivers grow their estimates themselves, never far beyond what
    // arrives: growing ours past theirs would only fill the uplink's queue.
    const double median = Median(estimates);
    // The first estimates only find the rate; later ones below what is
    // sent are cuts.
    if (byDelayBefore && median - kVoiceStreamBitsPerSecond < sending * kCutShare) lastCut_ = now;
    delayBased_ = std::min(kMaxStreamBitsPerSecond, median);
    // One peer far below the others is its own downlink's trouble.
    if (estimates.size() < 3) return;
    for (const PeerReport& peer : peers)
        if (Fresh(peer, now) && peer.estimateBitsPerSecond < sending * kSlowerShare &&
            peer.estimateBitsPerSecond < (median - kVoiceStreamBitsPerSecond) * kDownlinkShare)
            heldUntil_[peer.userId] = now + kHoldSeconds;
}

}  // namespace pacing

// One budget for the whole uplink, judged from what every peer reports.
// Loss-based, from RTCP receiver reports (every peer sends them): under 2 %
// the rate grows, 2-10 % holds, over 10 % it falls by half the loss, at
// most once per round trip plus 300 ms; round trips grown by a queue to
// most peers hold it from growing, or cut it before any loss. Delay-based, from receiver
// estimates (our own peers only): the rate follows the median of what they
// judge the path to carry. Trouble most peers see at once is the uplink's;
// trouble one peer alone sees is that peer's downlink, and only video to it
// is held.
// Loss without delay growth (a receiver that cannot keep up) cuts nothing,
// nor does the loss our own peers see: their estimates speak for them. Our
// voice arriving jittery at the peers (a thin uplink's queue that bursts)
// caps the rate under what is sent.
// Rates are per stream (what one peer receives), bits/s; time in seconds.
#pragma once

#include <algorithm>
#include <cstdint>
#include <map>
#include <vector>

namespace pacing {

constexpr double kVoiceStreamBitsPerSecond = 24000;  // 90 bytes every 30 ms on the wire
constexpr double kMaxStreamBitsPerSecond = 400000;
// Until the first reports, the whole uplink is taken to carry this much,
// shared by the peers, but each stream at least voice and the video of the
// ladder's lowest full frame rate: low enough not to fill a thin uplink's
// queue before the first estimates come; the receivers' estimates then
// grow with what arrives.
constexpr double kStartUplinkBitsPerSecond = 150000;
constexpr double kStartStreamLeastBitsPerSecond = 44000;
constexpr double kLossIncreaseBelow = 0.02;
constexpr double kLossDecreaseAbove = 0.10;
constexpr double kLossIncreaseShare = 0.08;
constexpr double kDecisionSpacingSeconds = 0.3;  // beside the round trip
// Loss counts as the uplink's only when the round trip grew this much over
// its least (a queue), or voice could not bear it at all.
constexpr double kQueueEvidenceSeconds = 0.04;
constexpr double kLossWithoutEvidence = 0.3;
// Round trips grown by a queue to most peers cut the rate by this much.
constexpr double kRoundTripBackoff = 0.85;
// A receiver estimate counts this long; one below this share of the
// others' median marks that peer's own downlink.
constexpr double kEstimateLifetimeSeconds = 2;
constexpr double kDownlinkShare = 0.3;
// Video to a peer with a bad downlink stays held this long.
constexpr double kHoldSeconds = 8;
// A peer's own downlink is in trouble only when its estimate is also below
// this share of what we send.
constexpr double kSlowerShare = 0.9;
// A receiver's estimate stays at or above what arrives until it sees the
// path queue, and then falls to 0.85 of it: a median estimate below this
// share of what is sent is a cut. The uplink counts as congested for this
// long after a cut.
constexpr double kCutShare = 0.92;
constexpr double kCongestedSeconds = 30;
// Our voice arriving at the peers more jittery than this, and than this
// many times their voice arrives here (medians over the peers), says the
// uplink is thin: each burst of video copies holds it back (on loopback it
// is under 1 ms, as RTCP reports it). A busy machine, or a jittery network
// of our own, jitters voice both ways, each peer's by its own share.
constexpr double kThinUplinkJitterSeconds = 0.002;
constexpr double kThinUplinkJitterRatio = 2;
// That jitter is our voice suffering from our video. Pacing it strictly
// (see Congested) takes away the bursts; jitter that outlasts the pacing by
// this spacing says the uplink carries what we send only with a queue that
// bursts: it caps the rate at this share of what is sent, at most once per
// spacing (reported jitter follows a change within a second or so), never
// below the start's least. The cap grows back by a share a second while the
// voice is smooth.
constexpr double kJitterBackoff = 0.9;
constexpr double kJitterCutSpacingSeconds = 2;
constexpr double kJitterCapGrowthPerSecond = 0.08;
// Without any estimate the delay-based rate grows by this share a second.
constexpr double kProbeSharePerSecond = 0.05;

struct PeerReport {
    int userId = 0;
    // The latest RTCP report about our media (the worse of voice and video).
    bool hasReport = false;
    uint64_t reportNumber = 0;  // grows with every new report
    double fractionLost = 0;
    double roundTripSeconds = 0;
    // The jitter it reports of our voice, which is never paced (0: none
    // yet), and the jitter of its voice here.
    double voiceJitterSeconds = 0;
    double theirVoiceJitterSeconds = 0;
    // The peer's latest receiver estimate of our video.
    bool hasEstimate = false;
    double estimateBitsPerSecond = 0;
    double estimateAt = 0;
};

enum class HoldReason { kNone, kUplink, kPeerDownlink };

class SendBudget {
public:
    // `sending`: what one stream of our video carries now on the wire
    // (IPv4, UDP and RTP headers counted), bits/s.
    void Update(double now, const std::vector<PeerReport>& peers, double sending);

    // What one stream may take, voice and video together: the lower of the
    // loss-based rate, while a peer is judged by loss alone (no estimate
    // from it, as from original peers and before video arrives anywhere),
    // and the delay-based rate, while any peer sends estimates.
    double StreamBitsPerSecond() const;
    // Of it, for video; 0 when voice alone takes it all.
    double VideoBitsPerSecond() const;
    bool VoiceDoesNotFit() const { return StreamBitsPerSecond() < kVoiceStreamBitsPerSecond; }
    // Whether the budget was cut (by loss, a queue, or a receiver's
    // overuse), or the peers found our voice jittery, within
    // kCongestedSeconds: held that long, since the pacing that a congested
    // uplink calls for takes the jitter away.
    bool Congested(double now) const { return now - std::max(lastCut_, lastJittery_) < kCongestedSeconds; }
    // The peers whose video is held for their own downlink, at `now`.
    std::vector<int> HeldPeers(double now) const;
    double LossBasedBitsPerSecond() const { return lossBased_; }
    double DelayBasedBitsPerSecond() const { return delayBased_; }

private:
    void UpdateLossBased(double now, const std::vector<PeerReport>& peers, double sending);
    // `elapsed`: seconds since the last update, at most 1.
    void UpdateDelayBased(double now, const std::vector<PeerReport>& peers, double sending, double elapsed);

    double lossBased_ = kStartUplinkBitsPerSecond;
    double delayBased_ = kMaxStreamBitsPerSecond;
    double lastDecision_ = -1e9;
    double lastUpdate_ = 0;
    double lastCut_ = -1e9;
    bool byDelayBefore_ = false;  // whether the last update had estimates
    bool byLoss_ = true;
    bool byDelay_ = false;
    double lastJittery_ = -1e9;
    double jitterCap_ = kMaxStreamBitsPerSecond;
    double lastJitterCut_ = -1e9;
    double jitterySince_ = -1;  // negative: the voice was smooth at the last update
    std::map<int, uint64_t> seenReports_;
    std::map<int, double> leastRoundTrip_;
    std::map<int, double> heldUntil_;
};

}  // namespace pacing

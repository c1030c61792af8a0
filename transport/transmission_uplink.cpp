// What the send budget reads: every peer's RTCP reports about our media
// (the worse of voice and video) and its receiver estimates of our video.
#include "transport/rtp/rtp_clock.h"
#include "transport/transmission.h"

#include <algorithm>
#include <cmath>

void CTavolinTransmission::OnReceiverEstimate(int userId, double bitsPerSecond, double receiveTime) {
    std::lock_guard lock(estimatesLock_);
    estimates_[userId] = {bitsPerSecond, receiveTime};
}

double CTavolinTransmission::EstimateOf(int userId) {
    std::lock_guard lock(estimatesLock_);
    const auto estimate = estimates_.find(userId);
    return estimate == estimates_.end() ? -1000 : estimate->second.bitsPerSecond;
}

void CTavolinTransmission::GetUplinkReports(std::vector<pacing::PeerReport>* out, double* now) {
    constexpr double kNanosecondsPerSecond = 1e9;
    *now = rtp::RTPSystemClock::Instance().Now();
    out->clear();
    for (int i = 0; i < peers.Count(); ++i) {
        const PeerEntry& peer = peers.At(i);
        PeerTransportStatistics figures;
        if (!GetPeerStatistics(peer.userId, &figures)) continue;
        pacing::PeerReport report;
        report.userId = peer.userId;
        if (figures.voice.hasPeerReport) report.voiceJitterSeconds = figures.voice.peerJitterMs / 1000;
        report.theirVoiceJitterSeconds = figures.voice.jitterMs / 1000;
        for (const MediumTransportStatistics* medium : {&figures.voice, &figures.video}) {
            if (!medium->hasPeerReport) continue;
            report.hasReport = true;
            report.fractionLost = std::max(report.fractionLost, medium->peerLostOfSent);
            report.roundTripSeconds = std::max(report.roundTripSeconds, medium->roundTripMs / 1000);
            report.reportNumber =
                std::max(report.reportNumber,
                         static_cast<uint64_t>(std::llround(medium->peerReportTime * kNanosecondsPerSecond)));
        }
        {
            std::lock_guard lock(estimatesLock_);
            const auto estimate = estimates_.find(peer.userId);
            if (estimate != estimates_.end()) {
                report.hasEstimate = true;
                report.estimateBitsPerSecond = estimate->second.bitsPerSecond;
                report.estimateAt = estimate->second.at;
            }
        }
        out->push_back(report);
    }
}

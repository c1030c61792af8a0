// The host's statistics interface: the engine's own counts, the user
// records' figures of what they decoded and showed, and the transmission's
// traffic, RTCP and feedback figures.
#include "engine/engine.h"
#include "engine/statistics.h"
#include "transport/peer_statistics.h"

#include <algorithm>
#include <cstring>

namespace {
constexpr double kBitsPerKbit = 1000.0 / 8;
// The smallest struct a host can pass: the size field and one more word.
constexpr uint32_t kSmallestSize = 8;

}  // namespace

int CTavolinEngineImpl::GetLocalStatistics(TavolinLocalStatistics* out) {
    if (!out || out->size < kSmallestSize) return 0;
    const uint32_t now = GetTickCount();
    TavolinLocalStatistics filled{};
    filled.framesCaptured = m_Counts.framesCaptured;
    filled.framesCoded = m_Counts.framesCoded;
    filled.keyFramesRegular = m_Counts.keyFramesRegular;
    filled.keyFramesAsked = m_Counts.keyFramesAsked;
    filled.keyFramesByCoder = m_Counts.keyFramesByCoder;
    filled.keyFrames = filled.keyFramesRegular + filled.keyFramesAsked + filled.keyFramesByCoder;
    filled.framesCodedPerSecond = m_Counts.codedRate.Sample(now, m_Counts.framesCoded);
    const uint64_t videoBytes = m_Transmission.GetSentTraffic(Medium::kVideo).bytes;
    const uint64_t voiceBytes = m_Transmission.GetSentTraffic(Medium::kVoice).bytes;
    filled.videoKbitsPerSecondOut = m_Counts.videoBitRate.Sample(now, videoBytes) / kBitsPerKbit;
    filled.voiceKbitsPerSecondOut = m_Counts.voiceBitRate.Sample(now, voiceBytes) / kBitsPerKbit;
    filled.videoSsrc = m_Transmission.GetLocalSsrc(Medium::kVideo);
    filled.voiceSsrc = m_Transmission.GetLocalSsrc(Medium::kVoice);
    filled.videoCodingCpuSeconds = m_VideoEnc.CpuSeconds();
    // Without the adaptation no budget is kept: its figures stay 0.
    if (m_bAdaptUplink) {
        const int peers = m_Transmission.PeerCountForTesting();
        filled.uplinkBudgetKbitsPerSecond = m_SendBudget.StreamBitsPerSecond() * peers / 1000;
        filled.lossBasedKbitsPerSecond = m_SendBudget.LossBasedBitsPerSecond() / 1000;
        filled.delayBasedKbitsPerSecond = m_SendBudget.DelayBasedBitsPerSecond() / 1000;
        filled.voiceDoesNotFit = m_SendBudget.VoiceDoesNotFit() ? 1 : 0;
    }
    filled.videoTargetKbitsPerSecond = m_Ladder.TargetBitsPerSecond() / 1000;
    filled.videoFramesPerSecondTarget = m_Ladder.FramesPerSecond();
    filled.videoLadderStep = m_Ladder.Step();
    filled.videoQuantiser = m_VideoEnc.Quantiser();
    filled.videoHeldPeers = static_cast<int>(m_HeldVideoTold.size());
    return HandToHost(filled, out);
}

int CTavolinEngineImpl::GetPeerStatistics(int userId, TavolinPeerStatistics* out) {
    if (!out || out->size < kSmallestSize) return 0;
    CTavolinUser* user = FindUser(userId);
    if (!user || user == m_pLocalUser) return 0;
    PeerTransportStatistics transport;
    const bool known = m_Transmission.GetPeerStatistics(userId, &transport);
    TavolinPeerStatistics filled{};
    user->FillStatistics(filled, transport, GetTickCount());
    FillTransportStatistics(known ? &transport : nullptr, filled);
    const bool held = std::find(m_HeldVideoTold.begin(), m_HeldVideoTold.end(), userId) != m_HeldVideoTold.end();
    filled.videoHeld = held ? TAVOLIN_VIDEO_HELD_PEER : m_Ladder.Paused() ? TAVOLIN_VIDEO_HELD_UPLINK : 0;
    filled.estimateKbitsPerSecond = m_Transmission.EstimateOf(userId) / 1000;
    return HandToHost(filled, out);
}

void CTavolinEngineImpl::FillTransportStatistics(const PeerTransportStatistics* transport, TavolinPeerStatistics& out) {
    out.fractionLost = out.remoteFractionLost = out.jitterMs = out.remoteJitterMs = out.roundTripMs = -1;
    out.cumulativeLost = out.remoteCumulativeLost = -1;
    if (!transport) return;
    const MediumTransportStatistics& video = transport->video;
    if (video.hasReception) {
        out.fractionLost = video.fractionLost;
        out.cumulativeLost = video.cumulativeLost;
        out.jitterMs = video.jitterMs;
    }
    if (video.hasPeerReport) {
        out.remoteFractionLost = video.peerFractionLost;
        out.remoteCumulativeLost = video.peerCumulativeLost;
        out.remoteJitterMs = video.peerJitterMs;
        if (video.roundTripMs > 0) out.roundTripMs = video.roundTripMs;
    }
    out.nacksSent = transport->nacksSent;
    out.nacksReceived = transport->nacksReceived;
    out.pictureLossSent = transport->pictureLossSent;
    out.pictureLossReceived = transport->pictureLossReceived;
    out.packetsResent = transport->packetsRetransmitted;
    out.resendsRefused = transport->retransmissionsRefused;
    out.packetsRecovered = transport->packetsRecovered;
    out.encrypted = transport->encrypted ? 1 : 0;
    out.packetsAuthenticated = transport->protection.accepted;
    out.authenticationFailures = transport->protection.authenticationFailures;
    out.replaysDropped = transport->protection.replays;
    out.unknownEpochDropped = transport->protection.unknownEpoch;
}

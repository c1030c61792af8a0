// One send budget for the whole uplink, spent on voice first: the video
// pacer's rate, the ladder's quantiser and frame rate, and the peers whose
// video is held, from what every peer reports.
#include "engine/engine.h"
#include "transport/pacing/arrival_delay.h"
#include "transport/pacing/video_pacer.h"

#include <algorithm>
#include <chrono>

namespace {
constexpr double kCameraFramesPerSecond = 15;
constexpr double kMeasureSeconds = 1;
constexpr uint64_t kLeastFramesMeasured = 8;
}  // namespace

int CTavolinEngineImpl::SetUplinkAdaptation(int on) {
    m_bAdaptUplink = on != 0;
    if (m_bAdaptUplink) return 1;
    // Everything back as without adaptation: full rate to every peer.
    m_SendBudget = pacing::SendBudget();
    m_Ladder = VideoLadder();
    m_VideoEnc.SetQuantiser(m_Ladder.Quantiser());
    m_dVideoBudget = 0;
    m_Transmission.SetVideoBudget(0, false);
    m_Transmission.HoldVideoTo({});
    TellHeldVideo({}, false);
    TellVideoReduced(false);
    m_bVoiceDoesNotFitTold = false;
    return 1;
}

void CTavolinEngineImpl::AdaptToUplink() {
    if (!m_bAdaptUplink) return;
    std::vector<pacing::PeerReport> reports;
    double now = 0;
    m_Transmission.GetUplinkReports(&reports, &now);
    if (reports.empty()) return;
    // As the receivers count what arrives: with IPv4 and UDP headers.
    const TrafficCount sent = m_Transmission.GetSentTraffic(Medium::kVideo);
    const uint64_t bytes = sent.bytes + sent.packets * pacing::kDatagramOverheadBytes;
    if (m_dLastMeasureAt < 0 || now - m_dLastMeasureAt >= kMeasureSeconds) {
        if (m_dLastMeasureAt >= 0) m_dMeasuredVideo = (bytes - m_uLastMeasureBytes) * 8 / (now - m_dLastMeasureAt);
        const uint64_t frames = m_Counts.framesCoded - m_uCodedFramesAtMeasure;
        // Over fewer frames a key frame (the first above all) swamps the rest.
        if (frames >= kLeastFramesMeasured)
            m_dCodedFrameBits = static_cast<double>(m_Counts.codedBits - m_uCodedBitsAtMeasure) / frames;
        m_dLastMeasureAt = now;
        m_uLastMeasureBytes = bytes;
        m_uCodedFramesAtMeasure = m_Counts.framesCoded;
        m_uCodedBitsAtMeasure = m_Counts.codedBits;
    }
    m_SendBudget.Update(now, reports, m_dMeasuredVideo);
    const double video = m_SendBudget.VideoBitsPerSecond();
    m_Ladder.Update(now, video, m_dCodedFrameBits * m_Ladder.FramesPerSecond());
    m_VideoEnc.SetQuantiser(m_Ladder.Quantiser());
    m_dVideoBudget = std::max(video, 1.0);
    // Congested, the pacer keeps to the budget itself and spreads the copies
    // to the peers; otherwise it only smooths bursts, and what the copies to
    // later peers would wait costs the pictures latency for nothing.
    const bool congested = m_SendBudget.Congested(now);
    m_Transmission.SetVideoBudget(m_dVideoBudget * (congested ? 1 : pacing::kPacingFactor), congested);

    // Told as soon as the video leaves its top step, and back only once it
    // kept it for a clean spell: a probe's step down and up is no news.
    TellVideoReduced(m_Ladder.Step() > kLadderTop || (m_bVideoReducedTold && m_Ladder.Limited(now)));

    std::vector<int> held = m_SendBudget.HeldPeers(now);
    // A held peer is asked about by no one; the others keep their video.
    if (held.size() >= reports.size()) held.clear();
    TellHeldVideo(held, m_Ladder.Paused());
    std::vector<int> holding = held;
    if (m_Ladder.Paused())
        for (const pacing::PeerReport& report : reports) holding.push_back(report.userId);
    m_Transmission.HoldVideoTo(holding);

    const bool voiceDoesNotFit = m_SendBudget.VoiceDoesNotFit();
    if (voiceDoesNotFit && !m_bVoiceDoesNotFitTold)
        m_Events.Emit(TAVOLIN_EVENT_VOICE_DOES_NOT_FIT, m_nLocalUserId, TAVOLIN_MEDIUM_VOICE, 0,
                      static_cast<int>(m_SendBudget.StreamBitsPerSecond() * reports.size() / 1000));
    m_bVoiceDoesNotFitTold = voiceDoesNotFit;
}

void CTavolinEngineImpl::TellHeldVideo(const std::vector<int>& held, bool uplinkPaused) {
    for (const int userId : held)
        if (std::find(m_HeldVideoTold.begin(), m_HeldVideoTold.end(), userId) == m_HeldVideoTold.end())
            m_Events.Emit(TAVOLIN_EVENT_VIDEO_HELD, userId, TAVOLIN_MEDIUM_VIDEO, 0, TAVOLIN_VIDEO_HELD_PEER);
    for (const int userId : m_HeldVideoTold)
        if (std::find(held.begin(), held.end(), userId) == held.end()) {
            m_Events.Emit(TAVOLIN_EVENT_VIDEO_RESUMED, userId, TAVOLIN_MEDIUM_VIDEO);
            m_bKeyFrameWanted = true;  // its picture froze on an older reference
        }
    m_HeldVideoTold = held;
    if (uplinkPaused != m_bVideoPausedTold)
        m_Events.Emit(uplinkPaused ? TAVOLIN_EVENT_VIDEO_HELD : TAVOLIN_EVENT_VIDEO_RESUMED, -1, TAVOLIN_MEDIUM_VIDEO,
                      0, uplinkPaused ? TAVOLIN_VIDEO_HELD_UPLINK : 0);
    m_bVideoPausedTold = uplinkPaused;
}

void CTavolinEngineImpl::TellVideoReduced(bool reduced) {
    if (reduced == m_bVideoReducedTold) return;
    m_Events.Emit(TAVOLIN_EVENT_VIDEO_REDUCED, -1, TAVOLIN_MEDIUM_VIDEO, 0, reduced ? m_Ladder.Step() : 0);
    m_bVideoReducedTold = reduced;
}

bool CTavolinEngineImpl::CodesThisFrame() {
    const double now = std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
    // Behind the budget, or behind the pacer: it releases a frame within its
    // longest spread (strict, the allowance stops the coder first), and a
    // datagram held longer means its thread cannot keep up; new frames
    // would only wait behind it.
    const bool behind =
        m_dVideoBudget > 0 && (!m_VideoAllowance.Allows(now, m_dVideoBudget) ||
                               m_Transmission.VideoBacklogSeconds() > pacing::kLongestFrameSpreadSeconds);
    // A frame left uncoded does not advance the timestamp either: viewers
    // take a step larger than one frame for a lost frame and freeze.
    return !behind && m_FrameThinner.Keep(m_Ladder.FramesPerSecond(), kCameraFramesPerSecond);
}

void CTavolinEngineImpl::SpendVideoAllowance(size_t frameBytes, int fragments) {
    // As the receivers count it: RTP, UDP and IPv4 headers on every fragment.
    constexpr size_t kHeaderBytes = 12 + pacing::kDatagramOverheadBytes;
    const size_t bits = 8 * (frameBytes + static_cast<size_t>(fragments) * kHeaderBytes);
    m_Counts.codedBits += bits;
    if (m_dVideoBudget > 0) m_VideoAllowance.Spend(static_cast<double>(bits));
}

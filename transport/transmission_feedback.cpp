// Feedback about our own video, on the video poll thread: picture loss
// indications become key frame requests, NACKs are answered from the sent
// history, and both are counted for the peer that sent them.
#include "transport/tavolin_rtp_session.h"
#include "transport/transmission.h"

#include <vector>

int32_t CTavolinTransmission::FindFeedbackPeer(const rtp::RTPIPv4Address& rtcpSender,
                                               const rtp::RTPIPv4Address* mediaSender) const {
    if (mediaSender) {
        const int32_t userId = links_.FindByRtp(mediaSender->GetIP(), mediaSender->GetPort(), true);
        if (userId != PeerLinks::kNoPeer) return userId;
    }
    return links_.FindByRtcp(rtcpSender.GetIP(), rtcpSender.GetPort(), true);
}

void CTavolinTransmission::OnPictureLossReceived(const rtp::RTPIPv4Address& rtcpSender,
                                                 const rtp::RTPIPv4Address* mediaSender) {
    keyFrameRequested_ = true;
    links_.Count(FindFeedbackPeer(rtcpSender, mediaSender), &PeerLinkCounts::pictureLossReceived);
}

// The same bytes again (sequence number and timestamp included) from the
// video RTP socket, so that a peer that knows nothing of retransmission takes
// it as the packet it missed, or drops it as a duplicate.
bool CTavolinTransmission::OnNackReceived(const rtp::RTPIPv4Address& rtcpSender,
                                          const rtp::RTPIPv4Address* mediaSender, const uint16_t* lost,
                                          size_t lostCount, double now) {
    CTavolinRTPSession* session = videoSession.get();
    const int32_t userId = FindFeedbackPeer(rtcpSender, mediaSender);
    if (!session || userId == PeerLinks::kNoPeer) return true;
    links_.Count(userId, &PeerLinkCounts::nacksReceived);
    rtp::RTPIPv4Address pair;
    if (!links_.PairInForce(userId, true, &pair)) return true;
    const size_t streamBytes = session->sent.BytesWithin(now);
    std::vector<uint8_t> packet;
    for (size_t i = 0; i < lostCount; ++i) {
        if (!session->sent.Copy(lost[i], now, &packet)) continue;
        if (!links_.TrySpendRetransmission(userId, packet.size(), streamBytes, now)) return false;
        if (session->SendRawData(true, packet.data(), packet.size(), pair.GetIP(), pair.GetPort()) >= 0)
            links_.Count(userId, &PeerLinkCounts::packetsRetransmitted);
    }
    return true;
}

void CTavolinTransmission::CountVideoFeedback(const rtp::RTPIPv4Address& mediaSender,
                                              uint64_t PeerLinkCounts::*counter) {
    links_.Count(links_.FindByRtp(mediaSender.GetIP(), mediaSender.GetPort(), true), counter);
}

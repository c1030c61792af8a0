// Feedback about our own video, on the video poll thread: picture loss
// indications become key frame requests, NACKs are answered from the sent
// history, and both are counted for the peer that sent them.
#include "transport/tavolin_rtp_session.h"
#include "transport/transmission.h"

#include <cassert>
#include <optional>
#include <vector>

void CTavolinTransmission::OnPictureLossReceived(const rtp::RTPIPv4Address& rtcpSender,
                                                 const rtp::RTPIPv4Address* mediaSender) {
    keyFrameRequested_ = true;
    const std::shared_ptr<const PeerSnapshot> snapshot = peers.Snapshot();
    if (const PeerEntry* peer = snapshot->FindFeedbackSender(rtcpSender, mediaSender))
        Count(peer->link->pictureLossReceived);
}

namespace {
constexpr size_t kFixedHeaderBytes = 12;
constexpr uint8_t kMarkerBit = 0x80;

// A greeting's number, for a peer it was not sent to: its header with no
// payload, as a hello, which every peer reads past ("HI" or "REHI" meant for
// another would make it answer or stop greeting). Our packets carry no CSRC,
// extension or padding.
void MakeGapFiller(std::vector<uint8_t>* packet) {
    assert(packet->size() >= kFixedHeaderBytes && ((*packet)[0] & 0x3F) == 0);
    packet->resize(kFixedHeaderBytes);
    (*packet)[1] = static_cast<uint8_t>(((*packet)[1] & kMarkerBit) | transmission::kHelloPayloadType);
}
}  // namespace

// The same bytes again (sequence number and timestamp included) from the
// video RTP socket, so that a peer that knows nothing of retransmission takes
// it as the packet it missed, or drops it as a duplicate.
bool CTavolinTransmission::OnNackReceived(const rtp::RTPIPv4Address& rtcpSender,
                                          const rtp::RTPIPv4Address* mediaSender, const uint16_t* lost,
                                          size_t lostCount, double now) {
    CTavolinRTPSession* session = videoSession.get();
    const std::shared_ptr<const PeerSnapshot> snapshot = peers.Snapshot();
    const PeerEntry* peer = snapshot->FindFeedbackSender(rtcpSender, mediaSender);
    if (!session || !peer) return true;
    PeerLink& link = *peer->link;
    Count(link.nacksReceived);
    const rtp::RTPIPv4Address pair = peer->PairInForce(Medium::kVideo);
    if (!IsReachable(pair)) return true;
    const size_t streamBytes = session->sent.BytesWithin(now);
    std::vector<uint8_t> packet;
    std::optional<rtp::RTPIPv4Address> sentTo;
    for (size_t i = 0; i < lostCount; ++i) {
        if (!session->sent.Copy(lost[i], now, &packet, &sentTo)) continue;
        if (sentTo && *sentTo != pair) MakeGapFiller(&packet);
        if (!link.answerBudget.TrySpend(packet.size(), streamBytes, now)) {
            Count(link.retransmissionsRefused);
            return false;
        }
        if (session->SendRawData(true, packet.data(), packet.size(), pair.GetIP(), pair.GetPort()) >= 0)
            Count(link.packetsRetransmitted);
    }
    return true;
}

void CTavolinTransmission::CountVideoFeedback(const rtp::RTPIPv4Address& mediaSender,
                                              std::atomic<uint64_t> PeerLink::*counter) {
    const std::shared_ptr<const PeerSnapshot> snapshot = peers.Snapshot();
    if (const PeerEntry* peer = snapshot->FindByRtp(Medium::kVideo, mediaSender.GetIP(), mediaSender.GetPort()))
        Count((*peer->link).*counter);
}

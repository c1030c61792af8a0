// The per-peer figures a host reads, on the engine thread: the counts the
// transmission keeps per peer, and what each session's source table knows.
#include "transport/source_figures.h"
#include "transport/tavolin_rtp_session.h"
#include "transport/transmission.h"

namespace {
double TimestampUnitSeconds(Medium medium) {
    return medium == Medium::kVideo ? transmission::kVideoTimestampUnitSeconds
                                    : transmission::kVoiceTimestampUnitSeconds;
}

// A source belongs to the peer when its RTP, or else its RTCP (one port
// above), comes from one of the peer's pairs.
bool IsPeerSource(const PeerEntry& peer, Medium medium, const rtp::RTPSourceData& source) {
    if (const rtp::RTPIPv4Address* rtpAddress = source.GetRTPDataAddress())
        return peer.HasRtpPair(medium, rtpAddress->GetIP(), rtpAddress->GetPort());
    const rtp::RTPIPv4Address* rtcpAddress = source.GetRTCPDataAddress();
    return rtcpAddress && rtcpAddress->GetPort() != 0 &&
           peer.HasRtpPair(medium, rtcpAddress->GetIP(), static_cast<uint16_t>(rtcpAddress->GetPort() - 1));
}
}  // namespace

void CTavolinTransmission::FillSourceFigures(const PeerEntry& peer, Medium medium, MediumTransportStatistics* out) {
    CTavolinRTPSession* session = Session(medium);
    if (!session) return;
    const double timestampUnit = TimestampUnitSeconds(medium);
    session->BeginDataAccess();
    for (bool found = session->GotoFirstSource(); found; found = session->GotoNextSource()) {
        const rtp::RTPSourceData* source = session->GetCurrentSourceInfo();
        if (!source->IsValidated() || !IsPeerSource(peer, medium, *source)) continue;
        source_figures::Fill(*source, timestampUnit, out);
        if (out->hasPeerReport)
            out->peerLostOfSent = session->Unsent().ShareLost(
                peer.PairInForce(medium), static_cast<uint16_t>(source->RR_GetExtendedHighestSequenceNumber()),
                source->RR_GetPacketsLost(), source->RR_GetFractionLost(), source->RR_GetReceiveTime());
        break;
    }
    session->EndDataAccess();
}

bool CTavolinTransmission::GetPeerStatistics(int userId, PeerTransportStatistics* out) {
    const PeerEntry* peer = peers.Find(userId);
    if (!out || !peer) return false;
    *out = PeerTransportStatistics{};
    const PeerLink& link = *peer->link;
    for (const Medium medium : kBothMedia) {
        MediumTransportStatistics& figures = out->Of(medium);
        figures.media = link.media[medium].Read();
        figures.greetings = link.greetings[medium].Read();
        figures.packetsReceived = figures.media.packets + figures.greetings.packets;
        figures.bytesReceived = figures.media.bytes + figures.greetings.bytes;
        const TrafficCount sent = GetSentTraffic(medium);
        figures.packetsSent = sent.packets;
        figures.bytesSent = sent.bytes;
        FillSourceFigures(*peer, medium, &figures);
    }
    out->encrypted = GetProtectionFigures(userId, &out->protection);
    out->nacksSent = link.nacksSent.load();
    out->nacksReceived = link.nacksReceived.load();
    out->pictureLossSent = link.pictureLossSent.load();
    out->pictureLossReceived = link.pictureLossReceived.load();
    out->packetsRetransmitted = link.packetsRetransmitted.load();
    out->retransmissionsRefused = link.retransmissionsRefused.load();
    out->packetsRecovered = link.packetsRecovered.load();
    return true;
}

bool CTavolinTransmission::GetProtectionFigures(int userId, ProtectionFigures* out) const {
    *out = ProtectionFigures{};
    bool known = false;
    for (const Medium medium : kBothMedia) {
        const CTavolinRTPSession* session = Session(medium);
        ProtectionFigures figures;
        if (!session || !session->Protection() || !session->Protection()->Figures(userId, &figures)) continue;
        out->Add(figures);
        known = true;
    }
    return known;
}

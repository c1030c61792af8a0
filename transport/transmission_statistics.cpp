// The per-peer figures a host reads, on the engine thread: the counts the
// transmission keeps per peer, and what each session's source table knows.
#include "transport/source_figures.h"
#include "transport/tavolin_rtp_session.h"
#include "transport/transmission.h"

namespace {
bool IsPeerPair(const PeerEntry& peer, bool video, uint32_t address, uint16_t port) {
    const uint16_t publicPort = video ? peer.publicVideoPort : peer.publicAudioPort;
    const uint16_t localPort = video ? peer.localVideoPort : peer.localAudioPort;
    return (address == peer.publicAddress && port == publicPort) || (address == peer.localAddress && port == localPort);
}

// A source belongs to the peer when its RTP, or else its RTCP (one port
// above), comes from one of the peer's pairs.
bool IsPeerSource(const PeerEntry& peer, bool video, const rtp::RTPSourceData& source) {
    if (const rtp::RTPIPv4Address* rtpAddress = source.GetRTPDataAddress())
        return IsPeerPair(peer, video, rtpAddress->GetIP(), rtpAddress->GetPort());
    const rtp::RTPIPv4Address* rtcpAddress = source.GetRTCPDataAddress();
    return rtcpAddress && rtcpAddress->GetPort() != 0 &&
           IsPeerPair(peer, video, rtcpAddress->GetIP(), static_cast<uint16_t>(rtcpAddress->GetPort() - 1));
}
}  // namespace

void CTavolinTransmission::FillSourceFigures(const PeerEntry& peer, bool video, MediumTransportStatistics* out) {
    CTavolinRTPSession* session = video ? videoSession.get() : audioSession.get();
    if (!session) return;
    const double timestampUnit = video ? transmission::kVideoTimestampUnitSeconds
                                       : transmission::kVoiceTimestampUnitSeconds;
    session->BeginDataAccess();
    for (bool found = session->GotoFirstSource(); found; found = session->GotoNextSource()) {
        const rtp::RTPSourceData* source = session->GetCurrentSourceInfo();
        if (!source->IsValidated() || !IsPeerSource(peer, video, *source)) continue;
        source_figures::Fill(*source, timestampUnit, out);
        break;
    }
    session->EndDataAccess();
}

bool CTavolinTransmission::GetPeerStatistics(int userId, PeerTransportStatistics* out) {
    const PeerEntry* peer = FindPeer(userId);
    PeerLinkCounts counts;
    if (!out || !peer || !links_.GetCounts(userId, &counts)) return false;
    *out = PeerTransportStatistics{};
    out->voice.packetsReceived = counts.voice.packetsReceived;
    out->voice.bytesReceived = counts.voice.bytesReceived;
    out->video.packetsReceived = counts.video.packetsReceived;
    out->video.bytesReceived = counts.video.bytesReceived;
    out->voice.packetsSent = audioPacketsSent_.load();
    out->voice.bytesSent = audioBytesSent_.load();
    out->video.packetsSent = videoPacketsSent_.load();
    out->video.bytesSent = videoBytesSent_.load();
    FillSourceFigures(*peer, false, &out->voice);
    FillSourceFigures(*peer, true, &out->video);
    out->nacksSent = counts.nacksSent;
    out->nacksReceived = counts.nacksReceived;
    out->pictureLossSent = counts.pictureLossSent;
    out->pictureLossReceived = counts.pictureLossReceived;
    out->packetsRetransmitted = counts.packetsRetransmitted;
    out->retransmissionsRefused = counts.retransmissionsRefused;
    out->packetsRecovered = counts.packetsRecovered;
    return true;
}

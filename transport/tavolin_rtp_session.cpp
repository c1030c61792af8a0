#include "transport/tavolin_rtp_session.h"

#include "transport/address_datagram.h"
#include "transport/source_figures.h"
#include "transport/transmission.h"

#include <vector>

using namespace transmission;

CTavolinRTPSession::~CTavolinRTPSession() { Destroy(); }

void CTavolinRTPSession::RequestPublicAddress(uint32_t address, uint16_t port, const void* data, size_t length) {
    if (hasPublicAddress.load()) return;
    serverAddress = address;
    serverPort = port;
    std::vector<uint8_t> request;
    if (!address_exchange::BuildDatagram(address_exchange::kTypePublicAddress, static_cast<const uint8_t*>(data),
                                         length, &request)) {
        return;
    }
    SendRawData(true, request.data(), request.size(), address, port);
}

// Poll thread, data-access lock held: must not call session operations.
bool CTavolinRTPSession::OnRawPacket(rtp::RTPRawPacket* packet) {
    const rtp::RTPIPv4Address& sender = packet->GetSenderAddress();
    if (!packet->IsRTP()) return HearsRtcpFrom(sender);
    if (hasPublicAddress.load()) return HearsRtpFrom(sender);
    if (IsFromServer(sender)) {
        TakeAddressReply(*packet);
        return false;
    }
    return hearsPlayersWithoutAddress.load() && HearsRtpFrom(sender);
}

bool CTavolinRTPSession::HearsRtpFrom(const rtp::RTPIPv4Address& sender) const {
    return peers && peers->Snapshot()->FindByRtp(GetMedium(), sender.GetIP(), sender.GetPort());
}

bool CTavolinRTPSession::HearsRtcpFrom(const rtp::RTPIPv4Address& sender) const {
    return peers && peers->Snapshot()->HasAddress(sender.GetIP());
}

bool CTavolinRTPSession::IsFromServer(const rtp::RTPIPv4Address& sender) const {
    return sender.GetIP() == serverAddress.load() && sender.GetPort() == serverPort.load();
}

void CTavolinRTPSession::TakeAddressReply(rtp::RTPRawPacket& packet) {
    address_exchange::PublicAddress answer;
    if (!address_exchange::ParseAddressReply(packet.GetData(), packet.GetDataLength(), &answer)) return;
    // Known only once the engine has been told; until then the retry timer
    // asks again.
    if (owner && !owner->OnPublicAddress(answer.address, answer.port, kind)) return;
    publicAddress = answer.address;
    publicPort = answer.port;
    hasPublicAddress = true;
}

// Poll thread, data-access lock held. Only feedback about our own video
// matters; the peer is known by where its video comes from (its SSRC) or, when
// none came yet, by the RTCP socket the feedback came from.
void CTavolinRTPSession::OnFeedback(rtp::RTCPFeedbackKind feedback, uint32_t senderSSRC, uint32_t mediaSSRC,
                                    const uint16_t* lost, size_t lostCount, double receiveTime,
                                    const rtp::RTPIPv4Address* sender) {
    if (kind != kVideo || !owner || !sender || mediaSSRC != GetLocalSSRC()) return;
    const rtp::RTPSourceData* source = GetSourceInfo(senderSSRC);
    const rtp::RTPIPv4Address* media = source ? source->GetRTPDataAddress() : nullptr;
    if (feedback == rtp::RTCPFeedbackKind::kPictureLoss) {
        owner->OnPictureLossReceived(*sender, media);
        return;
    }
    if (!retransmission) return;
    nackNumbers_.clear();
    nackLimit_.Take(lost, lostCount, &nackNumbers_);
    if (!owner->OnNackReceived(*sender, media, nackNumbers_.data(), nackNumbers_.size(), receiveTime))
        nackLimit_.Stop();
}

// Poll thread, data-access lock held: before the compound's packets are read.
void CTavolinRTPSession::OnRTCPCompoundPacket(rtp::RTCPCompoundPacket*, double, const rtp::RTPIPv4Address*) {
    nackLimit_.BeginCompound();
}

// Sending thread, send lock held.
void CTavolinRTPSession::OnPacketSent(const uint8_t* packet, size_t length, uint16_t sequence, double sendTime,
                                      const rtp::RTPIPv4Address* destination) {
    if (kind != kVideo || !retransmission) return;
    sent.Add(packet, length, sequence, sendTime,
             destination ? std::optional<rtp::RTPIPv4Address>(*destination) : std::nullopt);
}

// Poll thread, data-access lock held.
void CTavolinRTPSession::OnRemoveSource(rtp::RTPSourceData* source) { missingVideo_.erase(source->GetSSRC()); }

void CTavolinRTPSession::NoteVideoArrival(rtp::RTPSourceData* source, const rtp::RTPPacket* packet, double now) {
    const rtp::RTPIPv4Address* from = source->GetRTPDataAddress();
    auto entry = missingVideo_.find(source->GetSSRC());
    if (entry == missingVideo_.end()) {
        if (!from || missingVideo_.size() >= kMaxNackSources) return;
        entry = missingVideo_.emplace(source->GetSSRC(), MissingVideo{NackRequester{}, *from}).first;
    }
    if (entry->second.requester.OnPacket(packet->GetSequenceNumber(), now) && owner)
        owner->CountVideoFeedback(entry->second.sender, &PeerLink::packetsRecovered);
}

// One NACK per source with numbers due, spaced per peer; numbers a refused
// send left unasked stay due for the next round.
void CTavolinRTPSession::AskForMissingVideo(double now) {
    for (auto& [ssrc, entry] : missingVideo_) {
        const rtp::RTPSourceData* source = GetSourceInfo(ssrc);
        const NackTiming timing =
            source ? NackTimingFor(source_figures::RoundTripSeconds(*source),
                                   source->INF_GetJitter() * kVideoTimestampUnitSeconds)
                   : NackTimingFor(0, 0);
        const std::vector<uint16_t> due = entry.requester.Due(now, timing);
        if (due.empty()) continue;
        const rtp::RTCPFeedbackRequest nack{rtp::RTCPFeedbackKind::kGenericNACK, ssrc, due.data(), due.size()};
        if (SendFeedback(entry.sender, &nack, 1, kNackSpacingSeconds) < 0) continue;
        entry.requester.MarkAsked(due, now);
        if (owner) owner->CountVideoFeedback(entry.sender, &PeerLink::nacksSent);
    }
}

void CTavolinRTPSession::OnPollThreadStep() {
    if (owner) owner->AnnounceWaitingPackets(GetMedium());
    const double now = GetClockTime();
    BeginDataAccess();
    for (bool found = GotoFirstSourceWithData(); found; found = GotoNextSourceWithData()) {
        rtp::RTPSourceData* source = GetCurrentSourceInfo();
        while (rtp::RTPPacket* packet = GetNextPacket()) {
            if (!owner) {
                DeletePacket(packet);
            } else {
                if (kind == kVideo && retransmission) NoteVideoArrival(source, packet, packet->GetReceiveTime());
                owner->QueuePacket(GetMedium(), source, packet);  // the packet is the owner's now
            }
        }
    }
    if (kind == kVideo && owner && retransmission) AskForMissingVideo(now);
    EndDataAccess();
}

#include "transport/tavolin_rtp_session.h"

#include "transport/address/address_datagram.h"
#include "transport/source_figures.h"
#include "transport/transmission.h"

#include <vector>

using namespace transmission;

CTavolinRTPSession::~CTavolinRTPSession() { Destroy(); }

void CTavolinRTPSession::SetRepair(bool on) {
    VideoRepairPort& port = *this;
    repair_ = on ? std::make_unique<VideoRepair>(port) : nullptr;
}

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
    if (GetMedium() != Medium::kVideo || !owner || !sender || mediaSSRC != GetLocalSSRC()) return;
    const rtp::RTPSourceData* source = GetSourceInfo(senderSSRC);
    const rtp::RTPIPv4Address* media = source ? source->GetRTPDataAddress() : nullptr;
    const std::shared_ptr<const PeerSnapshot> players = peers->Snapshot();
    const PeerEntry* asker = players->FindFeedbackSender(*sender, media);
    if (feedback == rtp::RTCPFeedbackKind::kPictureLoss) {
        owner->OnPictureLossReceived(asker);
        return;
    }
    if (repair_) repair_->OnNack(asker, lost, lostCount, receiveTime);
}

// Poll thread, data-access lock held: before the compound's packets are read.
void CTavolinRTPSession::OnRTCPCompoundPacket(rtp::RTCPCompoundPacket*, double, const rtp::RTPIPv4Address*) {
    if (repair_) repair_->BeginCompound();
}

// Sending thread, send lock held.
void CTavolinRTPSession::OnPacketSent(const uint8_t* packet, size_t length, uint16_t sequence, double sendTime,
                                      const rtp::RTPIPv4Address* destination) {
    if (repair_) repair_->OnSent(packet, length, sequence, sendTime, destination);
}

// Poll thread, data-access lock held.
void CTavolinRTPSession::OnRemoveSource(rtp::RTPSourceData* source) {
    if (repair_) repair_->OnSourceRemoved(source->GetSSRC());
}

bool CTavolinRTPSession::SendAgain(const rtp::RTPIPv4Address& pair, const uint8_t* packet, size_t length) {
    return SendRawData(true, packet, length, pair.GetIP(), pair.GetPort()) >= 0;
}

// Spaced per peer.
bool CTavolinRTPSession::SendNack(const rtp::RTPIPv4Address& sender, uint32_t ssrc,
                                  const std::vector<uint16_t>& numbers) {
    const rtp::RTCPFeedbackRequest nack{rtp::RTCPFeedbackKind::kGenericNACK, ssrc, numbers.data(), numbers.size()};
    return SendFeedback(sender, &nack, 1, kNackSpacingSeconds) >= 0;
}

NackTiming CTavolinRTPSession::TimingOf(uint32_t ssrc) {
    const rtp::RTPSourceData* source = GetSourceInfo(ssrc);
    if (!source) return NackTimingFor(0, 0);
    return NackTimingFor(source_figures::RoundTripSeconds(*source),
                         source->INF_GetJitter() * kVideoTimestampUnitSeconds);
}

// Repair reads the players once a round.
void CTavolinRTPSession::OnPollThreadStep() {
    if (owner) owner->AnnounceWaitingPackets(GetMedium());
    const double now = GetClockTime();
    const std::shared_ptr<const PeerSnapshot> players = repair_ && owner ? peers->Snapshot() : nullptr;
    BeginDataAccess();
    for (bool found = GotoFirstSourceWithData(); found; found = GotoNextSourceWithData()) {
        rtp::RTPSourceData* source = GetCurrentSourceInfo();
        while (rtp::RTPPacket* packet = GetNextPacket()) {
            if (!owner) {
                DeletePacket(packet);
                continue;
            }
            if (players) repair_->OnArrival(*players, source->GetSSRC(), source->GetRTPDataAddress(),
                                            packet->GetSequenceNumber(), packet->GetReceiveTime());
            owner->QueuePacket(GetMedium(), source, packet);  // the packet is the owner's now
        }
    }
    if (players) repair_->AskForMissing(*players, now);
    EndDataAccess();
}

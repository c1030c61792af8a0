#include "transport/tavolin_rtp_session.h"

#include "transport/address/address_datagram.h"
#include "transport/relay/relay_demux.h"
#include "transport/source_figures.h"
#include "transport/transmission.h"

#include <algorithm>
#include <vector>

using namespace transmission;

CTavolinRTPSession::~CTavolinRTPSession() { Destroy(); }

void CTavolinRTPSession::SetRepair(bool on) {
    VideoRepairPort& port = *this;
    repair_ = on ? std::make_unique<VideoRepair>(port) : nullptr;
    if (repair_) repair_->SetProtected(protection_ != nullptr);
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

void CTavolinRTPSession::UseRelay(std::vector<relay::RelayServer> servers, rtp::RTPRandom& random, bool whenNeeded) {
    relayWhenNeeded_ = whenNeeded;
    SessionRelay::Sockets& sockets = *this;
    relay_ = std::make_unique<SessionRelay>(sockets, random, std::move(servers));
    rtp::RTPSendRoute& route = *this;
    SetSendRoute(&route);
    rtp::RTPDatagramSource& source = *this;
    SetDatagramSource(&source);
}

void CTavolinRTPSession::UseProtection() {
    protection_ = std::make_unique<SessionProtection>();
    SetSendTransform(protection_.get());
    if (repair_) repair_->SetProtected(true);
}

// The poll thread may be waiting already, longer than the first retransmission.
void CTavolinRTPSession::StartRelay() {
    if (!relay_) return;
    if (relayWhenNeeded_) {
        relay_->Probe(SessionRelay::NowMs());
    } else {
        relay_->Start(SessionRelay::NowMs());
    }
    AbortWait();
}

// Poll thread, data-access lock held: must not call session operations.
bool CTavolinRTPSession::OnRawPacket(rtp::RTPRawPacket* packet) {
    if (relay_ && relay_->IsServer(packet->IsRTP(), packet->GetSenderAddress(), packet->CameOverConnection()) &&
        !UnwrapRelayed(*packet))
        return false;
    return HearsFrom(*packet) && Opened(*packet);
}

// A relayed datagram is judged as if the peer had sent it straight to us.
bool CTavolinRTPSession::HearsFrom(rtp::RTPRawPacket& packet) {
    const rtp::RTPIPv4Address& sender = packet.GetSenderAddress();
    if (!packet.IsRTP()) return HearsRtcpFrom(sender);
    if (hasPublicAddress.load()) return HearsRtpFrom(sender);
    if (IsFromServer(sender)) {
        TakeAddressReply(packet);
        return false;
    }
    return hearsPlayersWithoutAddress.load() && HearsRtpFrom(sender);
}

bool CTavolinRTPSession::Opened(rtp::RTPRawPacket& packet) {
    if (!protection_) return true;
    if (!peers) return false;
    const PeerEntry* sender = ProtectedSender(*peers->Snapshot(), packet);
    if (!sender) return false;
    const srtp::Unprotected opened =
        protection_->Open(sender->userId, packet.IsRTP(), {packet.GetData(), packet.GetDataLength()},
                          SessionRelay::NowMs());
    if (!opened.Accepted()) return false;
    packet.NarrowTo(packet.GetData(), opened.length, packet.GetSenderAddress());
    return true;
}

// RTP names its player by its pair. RTCP by the socket above a pair, else by
// the player whose RTP its sender SSRC came with (a translator maps the RTCP
// socket to a port of its own), else by an address only one player has.
const PeerEntry* CTavolinRTPSession::ProtectedSender(const PeerSnapshot& players, const rtp::RTPRawPacket& packet) {
    const rtp::RTPIPv4Address& from = packet.GetSenderAddress();
    if (packet.IsRTP()) return players.FindByRtp(GetMedium(), from.GetIP(), from.GetPort());
    if (const PeerEntry* peer = players.FindByRtcp(GetMedium(), from.GetIP(), from.GetPort())) return peer;
    const std::span<const uint8_t> bytes(packet.GetData(), packet.GetDataLength());
    if (srtp::HasHeader(bytes, srtp::PacketKind::kRtcp)) {
        const rtp::RTPSourceData* source = GetSourceInfo(srtp::SenderSsrc(bytes, srtp::PacketKind::kRtcp));
        const rtp::RTPIPv4Address* media = source ? source->GetRTPDataAddress() : nullptr;
        if (media && media->GetIP() == from.GetIP())
            return players.FindByRtp(GetMedium(), media->GetIP(), media->GetPort());
    }
    const PeerEntry* only = nullptr;
    for (const PeerEntry& peer : players.Peers()) {
        if (peer.publicAddress != from.GetIP() && peer.localAddress != from.GetIP()) continue;
        if (only) return nullptr;
        only = &peer;
    }
    return only;
}

bool CTavolinRTPSession::UnwrapRelayed(rtp::RTPRawPacket& packet) {
    const std::span<const uint8_t> bytes(packet.GetData(), packet.GetDataLength());
    const relay::DatagramKind kind = relay::Classify(bytes.data(), bytes.size());
    if (kind != relay::DatagramKind::kStun && kind != relay::DatagramKind::kChannelData) return false;
    relay::RelayedDatagram relayed;
    if (relay_->OnServerDatagram(packet.IsRTP(), bytes, SessionRelay::NowMs(), &relayed) !=
        relay::Allocation::Received::kRelayed) {
        return false;
    }
    packet.NarrowTo(relayed.payload.data(), relayed.payload.size(), PeerOfRelayed(packet.IsRTP(), relayed));
    return true;
}

rtp::RTPIPv4Address CTavolinRTPSession::PeerOfRelayed(bool rtpChannel, const relay::RelayedDatagram& relayed) {
    const rtp::RTPIPv4Address& seen = relayed.peer;
    if (!peers) return seen;
    const std::shared_ptr<const PeerSnapshot> players = peers->Snapshot();
    const bool ownPair = rtpChannel ? players->FindByRtp(GetMedium(), seen.GetIP(), seen.GetPort())
                                    : players->FindByRtcp(GetMedium(), seen.GetIP(), seen.GetPort());
    if (const std::optional<rtp::RTPIPv4Address> pair = relay_->LatchedPairOf(rtpChannel, seen, ownPair)) return *pair;
    if (ownPair) return seen;
    const PairOfSsrc pairOfSsrc = [this](uint32_t ssrc) -> std::optional<rtp::RTPIPv4Address> {
        const rtp::RTPSourceData* source = GetSourceInfo(ssrc);
        const rtp::RTPIPv4Address* pair = source ? source->GetRTPDataAddress() : nullptr;
        return pair ? std::optional(*pair) : std::nullopt;
    };
    std::optional<LatchProof> proof;
    if (rtpChannel) {
        proof = PairToLatch(*players, GetMedium(), seen, relayed.payload, pairOfSsrc);
    } else if (const auto rtcpPair = RtcpPairToLatch(*players, GetMedium(), seen, relayed.payload, pairOfSsrc)) {
        proof = LatchProof{*rtcpPair, false};
    }
    if (!proof || !relay_->Latch(rtpChannel, *proof, seen, SessionRelay::NowMs())) return seen;
    return proof->pair;
}

bool CTavolinRTPSession::Divert(bool rtpChannel, std::span<const uint8_t> datagram,
                                const rtp::RTPIPv4Address& destination) {
    // The address request and "TRANS" keep the translator's own mapping: direct.
    if (IsFromServer(destination)) return false;
    return relay_->Send(rtpChannel, datagram, destination);
}

bool CTavolinRTPSession::SendPieces(bool rtpChannel, const rtp::RTPIPv4Address& to,
                                    std::span<const relay::Piece> pieces) {
    return rtp::RTPSession::SendPieces(rtpChannel, to, pieces);
}

void CTavolinRTPSession::OnRelayed(const rtp::RTPIPv4Address& relayed, const rtp::RTPIPv4Address& mapped) {
    relayedToPost_.emplace(relayed, mapped);
    PostRelayedAddress();
}

void CTavolinRTPSession::PostRelayedAddress() {
    if (!relayedToPost_ || !owner) return;
    const auto [relayed, mapped] = *relayedToPost_;
    if (!owner->OnRelayedAddress(relayed, mapped.GetIP(), kind)) return;
    relayedToPost_.reset();
    publicAddress = relayed.GetIP();
    publicPort = relayed.GetPort();
    hasPublicAddress = true;
}

double CTavolinRTPSession::PollWaitSeconds(double seconds) {
    if (!relay_) return seconds;
    const int64_t next = relay_->NextTimerMs();
    if (next == relay::Allocation::kNever) return seconds;
    // At least a millisecond: a timer due now is run after this round.
    return std::min(seconds, std::max(0.001, static_cast<double>(next - SessionRelay::NowMs()) / 1000.0));
}

// The allocations are released while the sockets can still say so.
void CTavolinRTPSession::OnClosing() {
    if (relay_) relay_->Close(SessionRelay::NowMs());
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
    // A relayed session's public address is its relayed one.
    if (relay_ && relay_->Started()) return;
    address_exchange::PublicAddress answer;
    if (!address_exchange::ParseAddressReply(packet.GetData(), packet.GetDataLength(), &answer)) return;
    if (relay_ && !relayDecided_) {
        heldAnswer_ = answer;
        DecideRelay();
        return;
    }
    PostAddressAnswer(answer);
}

// Known only once the engine has been told; until then the retry timer asks
// again.
bool CTavolinRTPSession::PostAddressAnswer(const address_exchange::PublicAddress& answer) {
    if (owner && !owner->OnPublicAddress(answer.address, answer.port, kind)) return false;
    publicAddress = answer.address;
    publicPort = answer.port;
    hasPublicAddress = true;
    return true;
}

// Without an answer from the relay server, hole punching is all there is.
// With one, a port of its own for each destination defeats hole punching; and
// when the address server stays silent (the owner gave up waiting) while the
// relay server answers, the translator lets UDP reach the relay server alone.
// A relay server over TCP is there for UDP that reaches nobody: only the
// address server's silence makes it needed.
void CTavolinRTPSession::DecideRelay() {
    if (!relayWhenNeeded_ || relayDecided_ || relay_->Probing()) return;
    const std::optional<rtp::RTPIPv4Address> seen = relay_->ProbedAddress();
    if (!heldAnswer_ && !(seen && hearsPlayersWithoutAddress.load())) return;
    relayDecided_ = true;
    const bool mapsPerDestination = !relay_->OverStream() && seen && heldAnswer_ &&
                                    (seen->GetIP() != heldAnswer_->address || seen->GetPort() != heldAnswer_->port);
    const bool needed = seen && (!heldAnswer_ || mapsPerDestination);
    if (needed) {
        relay_->Start(SessionRelay::NowMs());
    } else if (heldAnswer_) {
        PostAddressAnswer(*heldAnswer_);
    }
    heldAnswer_.reset();
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
    unsent_.OnSent(sequence, UnreachedDestinations(destination));
}

// Poll thread, data-access lock held.
void CTavolinRTPSession::OnRemoveSource(rtp::RTPSourceData* source) {
    arrivals_.Forget(source->GetSSRC());
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
    if (relay_) {
        DecideRelay();
        relay_->OnTimer(SessionRelay::NowMs());
        PostRelayedAddress();
    }
    if (owner) owner->AnnounceWaitingPackets(GetMedium());
    const double now = GetClockTime();
    const std::shared_ptr<const PeerSnapshot> players = owner ? peers->Snapshot() : nullptr;
    BeginDataAccess();
    for (bool found = GotoFirstSourceWithData(); found; found = GotoNextSourceWithData()) {
        rtp::RTPSourceData* source = GetCurrentSourceInfo();
        const PeerEntry* voiceSender = kind == kVoice && players && pathQueues ? SenderOf(*players, *source) : nullptr;
        while (rtp::RTPPacket* packet = GetNextPacket()) {
            if (!owner) {
                DeletePacket(packet);
                continue;
            }
            if (kind == kVideo)
                arrivals_.OnPacket(source->GetSSRC(), packet->GetReceiveTime(), packet->GetPacketLength());
            if (voiceSender) pathQueues->OnVoice(voiceSender->userId, packet->GetReceiveTime(), packet->GetTimestamp());
            if (players && repair_)
                repair_->OnArrival(*players, source->GetSSRC(), source->GetRTPDataAddress(),
                                   packet->GetSequenceNumber(), packet->GetReceiveTime());
            owner->QueuePacket(GetMedium(), source, packet);  // the packet is the owner's now
        }
    }
    if (players && repair_) repair_->AskForMissing(*players, now);
    if (kind == kVideo && players) SendArrivalEstimates(*players, now);
    EndDataAccess();
}

// Data-access lock held. Peers that do not read estimates skip them.
const PeerEntry* CTavolinRTPSession::SenderOf(const PeerSnapshot& players, const rtp::RTPSourceData& source) const {
    const rtp::RTPIPv4Address* address = source.GetRTPDataAddress();
    return address ? players.FindByRtp(GetMedium(), address->GetIP(), address->GetPort()) : nullptr;
}

void CTavolinRTPSession::SendArrivalEstimates(const PeerSnapshot& players, double now) {
    const auto pathQueue = [&](uint32_t ssrc) -> std::optional<double> {
        const rtp::RTPSourceData* source = GetSourceInfo(ssrc);
        const PeerEntry* sender = source && pathQueues ? SenderOf(players, *source) : nullptr;
        return sender ? pathQueues->QueueSeconds(sender->userId, now) : std::nullopt;
    };
    for (const auto& [ssrc, bitsPerSecond] : arrivals_.Due(now, pathQueue)) {
        const rtp::RTPSourceData* source = GetSourceInfo(ssrc);
        const rtp::RTPIPv4Address* media = source ? source->GetRTPDataAddress() : nullptr;
        if (!media) continue;
        rtp::RTCPFeedbackRequest estimate;
        estimate.kind = rtp::RTCPFeedbackKind::kReceiverEstimate;
        estimate.mediaSSRC = ssrc;
        estimate.bitsPerSecond = static_cast<uint64_t>(bitsPerSecond);
        SendFeedback(*media, &estimate, 1, 0);
    }
}

// Poll thread, data-access lock held: an estimate of our video's path.
void CTavolinRTPSession::OnReceiverEstimate(uint32_t senderSSRC, uint64_t bitsPerSecond,
                                            const std::vector<uint32_t>& ssrcs, double receiveTime,
                                            const rtp::RTPIPv4Address* sender) {
    if (GetMedium() != Medium::kVideo || !owner || !sender) return;
    if (std::find(ssrcs.begin(), ssrcs.end(), GetLocalSSRC()) == ssrcs.end()) return;
    const rtp::RTPSourceData* source = GetSourceInfo(senderSSRC);
    const rtp::RTPIPv4Address* media = source ? source->GetRTPDataAddress() : nullptr;
    const std::shared_ptr<const PeerSnapshot> players = peers->Snapshot();
    if (const PeerEntry* peer = players->FindFeedbackSender(*sender, media))
        owner->OnReceiverEstimate(peer->userId, static_cast<double>(bitsPerSecond), receiveTime);
}

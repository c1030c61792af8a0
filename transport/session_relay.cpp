#include "transport/session_relay.h"

#include <algorithm>
#include <cassert>
#include <chrono>

using relay::Allocation;
using relay::AllocationState;
using relay::RelayEventKind;

SessionRelay::SessionRelay(Sockets& sockets, rtp::RTPRandom& random, std::vector<relay::RelayServer> servers)
    : sockets_(sockets), random_(random), servers_(std::move(servers)) {
    assert(!servers_.empty());
}

int64_t SessionRelay::NowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

void SessionRelay::Start(int64_t nowMs) {
    std::lock_guard<std::mutex> lock(lock_);
    if (rtp_) return;
    nowMs_ = nowMs;
    probe_.reset();
    rtp_.emplace(rtpPort_, random_, Current(), relay::PortRequest{true, std::nullopt});
    rtp_->Start(nowMs);
}

bool SessionRelay::Started() {
    std::lock_guard<std::mutex> lock(lock_);
    return rtp_.has_value();
}

void SessionRelay::Probe(int64_t nowMs) {
    std::lock_guard<std::mutex> lock(lock_);
    if (probe_ || rtp_) return;
    probe_.emplace(probePort_, random_, Current().address, Current().transport == relay::RelayTransport::kTcp);
    probe_->Start(nowMs);
}

bool SessionRelay::Probing() {
    std::lock_guard<std::mutex> lock(lock_);
    return probe_ && !probe_->Finished();
}

std::optional<rtp::RTPIPv4Address> SessionRelay::ProbedAddress() {
    std::lock_guard<std::mutex> lock(lock_);
    return probe_ ? probe_->Mapped() : std::nullopt;
}

void SessionRelay::OnTimer(int64_t nowMs) {
    std::lock_guard<std::mutex> lock(lock_);
    nowMs_ = nowMs;
    ServiceStreams();
    if (failoverDue_ || reconnectDue_) Reallocate(nowMs);
    if (probe_ && nowMs >= probe_->NextTimerMs()) probe_->OnTimer(nowMs);
    for (std::optional<Allocation>* allocation : {&rtp_, &rtcp_})
        if (*allocation && nowMs >= (*allocation)->NextTimerMs()) (*allocation)->OnTimer(nowMs);
}

int64_t SessionRelay::NextTimerMs() {
    std::lock_guard<std::mutex> lock(lock_);
    if (failoverDue_ || reconnectDue_) return 0;
    for (const std::optional<RelayStream>* stream : {&rtpStream_, &rtcpStream_})
        if (*stream && (*stream)->GetState() == RelayStream::State::kIdle) return 0;
    int64_t next = probe_ ? probe_->NextTimerMs() : Allocation::kNever;
    for (const std::optional<Allocation>* allocation : {&rtp_, &rtcp_})
        if (*allocation) next = std::min(next, (*allocation)->NextTimerMs());
    return next;
}

void SessionRelay::Close(int64_t nowMs) {
    std::lock_guard<std::mutex> lock(lock_);
    nowMs_ = nowMs;
    relayed_ = false;
    for (std::optional<Allocation>* allocation : {&rtp_, &rtcp_})
        if (*allocation) (*allocation)->Close(nowMs);
}

size_t SessionRelay::PollDescriptors(pollfd* descriptors) {
    std::lock_guard<std::mutex> lock(lock_);
    size_t count = 0;
    for (const std::optional<RelayStream>* stream : {&rtpStream_, &rtcpStream_}) {
        if (!*stream) continue;
        if (const std::optional<pollfd> descriptor = (*stream)->Descriptor()) descriptors[count++] = *descriptor;
    }
    return count;
}

bool SessionRelay::HasWaiting() {
    std::lock_guard<std::mutex> lock(lock_);
    for (std::optional<RelayStream>* stream : {&rtpStream_, &rtcpStream_})
        if (*stream && (*stream)->HasMessage()) return true;
    return false;
}

bool SessionRelay::NextDatagram(rtp::RTPRawPacket* into, const rtp::RTPReceiveLimits& limits, double receiveTime) {
    std::lock_guard<std::mutex> lock(lock_);
    for (const bool rtpChannel : {false, true}) {
        std::optional<RelayStream>& stream = StreamOf(rtpChannel);
        if (!stream) continue;
        const size_t limit = rtpChannel ? limits.rtpBytes : limits.rtcpBytes;
        std::span<const uint8_t> message;
        // Bounded by the stream's reads; longer messages are dropped, as over UDP.
        while (stream->Next(&message)) {
            if (message.size() > limit) continue;
            std::copy(message.begin(), message.end(), into->PrepareBuffer(limit));
            into->SetReceived(message.size(), receiveTime, stream->Server(), rtpChannel);
            into->MarkOverConnection();
            return true;
        }
    }
    return false;
}

bool SessionRelay::OverStream() {
    std::lock_guard<std::mutex> lock(lock_);
    return Current().transport == relay::RelayTransport::kTcp;
}

bool SessionRelay::IsServer(bool rtpChannel, const rtp::RTPIPv4Address& sender, bool overConnection) {
    std::lock_guard<std::mutex> lock(lock_);
    // A server reached over TCP speaks only on its connection: a UDP
    // datagram from its address is anybody's.
    if (overConnection != (Current().transport == relay::RelayTransport::kTcp)) return false;
    const std::optional<Allocation>& allocation = Of(rtpChannel);
    if (allocation) return allocation->Server() == sender;
    return rtpChannel && probe_ && Current().address == sender;
}

Allocation::Received SessionRelay::OnServerDatagram(bool rtpChannel, std::span<const uint8_t> bytes, int64_t nowMs,
                                                    relay::RelayedDatagram* relayed) {
    std::lock_guard<std::mutex> lock(lock_);
    std::optional<Allocation>& allocation = Of(rtpChannel);
    if (!allocation) {
        const bool answered = rtpChannel && probe_ && probe_->OnServerDatagram(bytes);
        return answered ? Allocation::Received::kAnswer : Allocation::Received::kDropped;
    }
    nowMs_ = nowMs;
    return allocation->OnServerDatagram(bytes, nowMs, relayed);
}

bool SessionRelay::Send(bool rtpChannel, std::span<const uint8_t> datagram, const rtp::RTPIPv4Address& peer) {
    std::lock_guard<std::mutex> lock(lock_);
    if (!rtp_) return false;
    if (!relayed_) return true;
    Allocation& allocation = *Of(rtpChannel);
    const int64_t nowMs = NowMs();
    nowMs_ = nowMs;
    // A peer's permission and channel are asked for with its first datagram;
    // until the channel is bound, datagrams go as Send indications.
    const rtp::RTPIPv4Address to = LatchesOf(rtpChannel).SeenOf(peer);
    if (allocation.AddPeer(to, nowMs)) allocation.SendToPeer(to, datagram, nowMs);
    return true;
}

bool SessionRelay::Latch(bool rtpChannel, const LatchProof& proof, const rtp::RTPIPv4Address& seen, int64_t nowMs) {
    std::lock_guard<std::mutex> lock(lock_);
    PeerLatches& latches = LatchesOf(rtpChannel);
    if (proof.byGreeting) return latches.Greeted(proof.pair, seen, nowMs);
    latches.Latch(proof.pair, seen);
    return true;
}

std::optional<rtp::RTPIPv4Address> SessionRelay::LatchedPairOf(bool rtpChannel, const rtp::RTPIPv4Address& seen,
                                                               bool ownPair) {
    std::lock_guard<std::mutex> lock(lock_);
    PeerLatches& latches = LatchesOf(rtpChannel);
    if (!ownPair) return latches.PairOf(seen);
    latches.Forget(seen);
    return std::nullopt;
}

SessionRelayFigures SessionRelay::Figures() {
    std::lock_guard<std::mutex> lock(lock_);
    SessionRelayFigures figures;
    figures.relayed = relayed_;
    figures.failed = failed_;
    figures.allocations = allocations_;
    figures.failures = failures_;
    figures.failovers = failovers_;
    figures.failedServer = failedServer_;
    figures.lastEvent = lastEvent_;
    figures.lastErrorCode = lastErrorCode_;
    figures.rtp = pastRtp_;
    figures.rtcp = pastRtcp_;
    if (rtp_) {
        figures.server = rtp_->Server();
        figures.relayedAddress = rtp_->RelayedAddress();
        figures.rtp = relay::Plus(pastRtp_, rtp_->Counters().Read());
    }
    if (rtcp_) figures.rtcp = relay::Plus(pastRtcp_, rtcp_->Counters().Read());
    return figures;
}

bool SessionRelay::SocketPort::SendToServer(const rtp::RTPIPv4Address& server, std::span<const relay::Piece> pieces) {
    return owner.SendToServer(rtpChannel, server, pieces);
}

// Under lock_. A redirect names another server: a connection to it replaces the old one.
bool SessionRelay::SendToServer(bool rtpChannel, const rtp::RTPIPv4Address& server,
                                std::span<const relay::Piece> pieces) {
    if (Current().transport == relay::RelayTransport::kUdp) return sockets_.SendPieces(rtpChannel, server, pieces);
    std::optional<RelayStream>& stream = StreamOf(rtpChannel);
    if (!stream || stream->Server() != server) stream.emplace(server);
    assert(!pieces.empty());
    return stream->Send(pieces, relay::ClassOf(pieces.front()) == relay::StunClass::kRequest);
}

// Under lock_. A connection may drop while its server lives (a middlebox, an
// idle time-out): allocations that stood are made once more on the same
// server, and a drop before they stand again fails it, once, as any other
// failure. The probe's connection failing only ends the probe, which then
// goes unanswered.
void SessionRelay::ServiceStreams() {
    for (const bool rtpChannel : {true, false}) {
        std::optional<RelayStream>& stream = StreamOf(rtpChannel);
        if (!stream) continue;
        stream->Service();
        const std::optional<Allocation>& allocation = Of(rtpChannel);
        if (stream->GetState() != RelayStream::State::kBroken || !allocation || reconnectDue_) continue;
        const AllocationState state = allocation->State();
        if (state == AllocationState::kClosing || state == AllocationState::kClosed) continue;
        if (relayed_ && !failoverDue_ && !failed_) {
            relayed_ = false;
            reconnectDue_ = true;
            continue;
        }
        OnFailed({RelayEventKind::kConnectionLost, 0, 0, stream->Server()});
    }
}

void SessionRelay::SocketPort::OnRelayEvent(const relay::RelayEvent& event) { owner.OnEvent(rtpChannel, event); }

// Called from inside an allocation's call, with lock_ held.
void SessionRelay::OnEvent(bool rtpChannel, const relay::RelayEvent& event) {
    switch (event.kind) {
        case RelayEventKind::kAllocated:
            if (rtpChannel) {
                // The RTCP socket takes the port the RTP socket's answer kept,
                // on the server that gave it (after a redirect, not the first).
                relay::RelayServer server = Current();
                server.address = rtp_->Server();
                rtcp_.emplace(rtcpPort_, random_, std::move(server), relay::PortRequest{false, rtp_->Token()});
                rtcp_->Start(nowMs_);
            } else {
                relayed_ = true;
                ++allocations_;
                sockets_.OnRelayed(rtp_->RelayedAddress(), rtp_->MappedAddress().value_or(rtp::RTPIPv4Address{}));
            }
            return;
        default:
            // Only what ended the allocation counts: a permission's time-out does not.
            if (Of(rtpChannel)->State() == AllocationState::kFailed) OnFailed(event);
            return;
    }
}

// Once per server: both sockets' allocations may fail on it.
void SessionRelay::OnFailed(const relay::RelayEvent& event) {
    relayed_ = false;
    if (failoverDue_ || failed_) return;
    ++failures_;
    failedServer_ = event.address;
    lastEvent_ = event.kind;
    lastErrorCode_ = event.errorCode;
    if (serverIndex_ + 1 < servers_.size()) {
        failoverDue_ = true;  // on the next timer: this is the failed allocation's own call
    } else {
        failed_ = true;
    }
}

void SessionRelay::Reallocate(int64_t nowMs) {
    for (std::optional<Allocation>* allocation : {&rtp_, &rtcp_}) {
        if (!*allocation) continue;
        relay::RelayFigures& past = allocation == &rtp_ ? pastRtp_ : pastRtcp_;
        past = relay::Plus(past, (*allocation)->Counters().Read());
        (*allocation)->Close(nowMs);
    }
    rtcp_.reset();
    rtp_.reset();
    rtcpStream_.reset();
    rtpStream_.reset();
    if (failoverDue_) {
        ++serverIndex_;
        ++failovers_;
    }
    failoverDue_ = false;
    reconnectDue_ = false;
    rtp_.emplace(rtpPort_, random_, Current(), relay::PortRequest{true, std::nullopt});
    rtp_->Start(nowMs);
}

#include "transport/peer_table.h"

#include <cassert>

using namespace transmission;

rtp::RTPIPv4Address PeerEntry::PairInForce(Medium medium) const {
    if (usePublic == 1) return {publicAddress, PublicPort(medium)};
    return {localAddress, LocalPort(medium)};
}

bool PeerEntry::HasRtpPair(Medium medium, uint32_t address, uint16_t port) const {
    return (publicAddress == address && PublicPort(medium) == port) ||
           (localAddress == address && LocalPort(medium) == port);
}

const PeerEntry* PeerSnapshot::FindByRtp(Medium medium, uint32_t address, uint16_t port) const {
    for (const PeerEntry& peer : peers_)
        if (peer.HasRtpPair(medium, address, port)) return &peer;
    return nullptr;
}

const PeerEntry* PeerSnapshot::FindByRtcp(Medium medium, uint32_t address, uint16_t port) const {
    if (port == 0) return nullptr;
    return FindByRtp(medium, address, static_cast<uint16_t>(port - 1));
}

const PeerEntry* PeerSnapshot::FindFeedbackSender(const rtp::RTPIPv4Address& rtcpSender,
                                                  const rtp::RTPIPv4Address* mediaSender) const {
    if (mediaSender) {
        if (const PeerEntry* peer = FindByRtp(Medium::kVideo, mediaSender->GetIP(), mediaSender->GetPort()))
            return peer;
    }
    return FindByRtcp(Medium::kVideo, rtcpSender.GetIP(), rtcpSender.GetPort());
}

bool PeerSnapshot::HasAddress(uint32_t address) const {
    for (const PeerEntry& peer : peers_)
        if (peer.publicAddress == address || peer.localAddress == address) return true;
    return false;
}

PeerTable::PeerTable() : snapshot_(std::make_shared<const PeerSnapshot>()) {}

PeerEntry* PeerTable::Find(int32_t userId) {
    for (int i = 0; i < peerCount_; ++i)
        if (peers_[i].userId == userId) return &peers_[i];
    return nullptr;
}

PeerEntry* PeerTable::FindBySender(Medium medium, uint32_t address, uint16_t port) {
    for (int i = 0; i < peerCount_; ++i)
        if (peers_[i].HasRtpPair(medium, address, port)) return &peers_[i];
    return nullptr;
}

PeerEntry* PeerTable::Add(int32_t userId, uint32_t publicAddress, uint32_t localAddress, ITavolinPacketSink* sink) {
    if (peerCount_ >= kMaxPeers) return nullptr;
    PeerEntry& peer = peers_[peerCount_++];
    peer = PeerEntry{};
    peer.userId = userId;
    peer.publicAddress = publicAddress;
    peer.publicVideoPort = peer.publicAudioPort = kUnknownPort;
    peer.localAddress = localAddress;
    peer.localVideoPort = peer.localAudioPort = kUnknownPort;
    peer.usePublic = 1;
    peer.sink = sink;
    peer.link = std::make_shared<PeerLink>();
    Publish();
    return &peer;
}

void PeerTable::SetAddresses(PeerEntry& peer, uint32_t publicAddress, uint32_t localAddress) {
    if (IsAddress(publicAddress)) peer.publicAddress = publicAddress;
    if (IsAddress(localAddress)) peer.localAddress = localAddress;
    Publish();
}

void PeerTable::SetPorts(PeerEntry& peer, Medium medium, uint16_t publicPort, uint16_t localPort) {
    const bool video = medium == Medium::kVideo;
    (video ? peer.publicVideoPort : peer.publicAudioPort) = publicPort;
    (video ? peer.localVideoPort : peer.localAudioPort) = localPort;
    Publish();
}

void PeerTable::UseLocalPairs(PeerEntry& peer) {
    peer.usePublic = 0;
    Publish();
}

void PeerTable::Remove(PeerEntry& peer) {
    const int index = static_cast<int>(&peer - peers_);
    assert(index >= 0 && index < peerCount_);
    for (int i = index; i + 1 < peerCount_; ++i) peers_[i] = peers_[i + 1];
    peers_[--peerCount_] = PeerEntry{};
    Publish();
}

// The previous snapshot, swapped into `published`, goes after the lock is
// let go, unless a reader still holds it.
void PeerTable::Publish() {
    std::shared_ptr<const PeerSnapshot> published =
        std::make_shared<const PeerSnapshot>(std::vector<PeerEntry>(peers_, peers_ + peerCount_));
    std::lock_guard<std::mutex> lock(snapshotLock_);
    snapshot_.swap(published);
}

std::shared_ptr<const PeerSnapshot> PeerTable::Snapshot() const {
    std::lock_guard<std::mutex> lock(snapshotLock_);
    return snapshot_;
}

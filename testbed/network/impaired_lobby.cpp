#include "testbed/network/impaired_lobby.h"

#include "testbed/testbed_constants.h"

#include <algorithm>

namespace room {
namespace {
RelayEndpoint AudioOf(const PeerAddress& peer) { return {peer.userId, peer.localAddress, peer.audioLocalPort}; }
RelayEndpoint VideoOf(const PeerAddress& peer) { return {peer.userId, peer.localAddress, peer.videoLocalPort}; }

// `peer` as relayed: the relay's ports in both pairs, on loopback.
PeerAddress Relayed(const PeerAddress& peer, uint16_t audioPort, uint16_t videoPort) {
    PeerAddress told;
    told.userId = peer.userId;
    told.publicAddress = told.localAddress = kLoopbackAddress;
    told.audioPublicPort = told.audioLocalPort = audioPort;
    told.videoPublicPort = told.videoLocalPort = videoPort;
    return told;
}
}  // namespace

bool ImpairedLobby::Publish(const PeerAddress& address) {
    std::lock_guard lock(mutex_);
    published_[address.userId] = address;
    return true;
}

bool ImpairedLobby::RelayPair(const PeerAddress& a, const PeerAddress& b) {
    uint16_t audioForA = 0, audioForB = 0, videoForA = 0, videoForB = 0;
    std::string error;
    if (!relay_.AddPath(RelayMedium::kAudio, AudioOf(a), AudioOf(b), &audioForA, &audioForB, &error) ||
        !relay_.AddPath(RelayMedium::kVideo, VideoOf(a), VideoOf(b), &videoForA, &videoForB, &error)) {
        problems_.push_back(error);
        return false;
    }
    told_[{a.userId, b.userId}] = Relayed(b, audioForA, videoForA);
    told_[{b.userId, a.userId}] = Relayed(a, audioForB, videoForB);
    return true;
}

std::vector<PeerAddress> ImpairedLobby::TakeNewPeers(int forUserId) {
    std::lock_guard lock(mutex_);
    std::vector<PeerAddress> peers;
    const auto self = published_.find(forUserId);
    if (self == published_.end()) return peers;
    std::set<int>& handed = handed_[forUserId];
    for (const auto& [peerId, peer] : published_) {
        if (peerId == forUserId || handed.count(peerId)) continue;
        const std::pair<int, int> pair{std::min(forUserId, peerId), std::max(forUserId, peerId)};
        if (failed_.count(pair)) continue;
        if (!told_.count({forUserId, peerId}) && !RelayPair(self->second, peer)) {
            failed_.insert(pair);
            continue;
        }
        handed.insert(peerId);
        peers.push_back(told_.at({forUserId, peerId}));
    }
    return peers;
}

std::vector<std::string> ImpairedLobby::Problems() const {
    std::lock_guard lock(mutex_);
    return problems_;
}

}  // namespace room

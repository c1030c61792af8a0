// A lobby in one process that puts the impairment relay between every pair
// of players: each player is told the relay's ports as the other's address,
// and the relay forwards to the ports the other published.
#pragma once

#include "testbed/lobby.h"
#include "testbed/network/impairment_relay.h"

#include <map>
#include <mutex>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace room {

class ImpairedLobby : public Lobby {
public:
    explicit ImpairedLobby(ImpairmentRelay& relay) : relay_(relay) {}
    bool Publish(const PeerAddress& address) override;
    // A peer is handed over once both players have published.
    std::vector<PeerAddress> TakeNewPeers(int forUserId) override;
    // Why a pair could not be relayed, if it could not.
    std::vector<std::string> Problems() const;

private:
    bool RelayPair(const PeerAddress& a, const PeerAddress& b);

    ImpairmentRelay& relay_;
    mutable std::mutex mutex_;
    std::map<int, PeerAddress> published_;
    std::map<std::pair<int, int>, PeerAddress> told_;  // (viewer, peer): the peer's address as relayed to the viewer
    std::map<int, std::set<int>> handed_;
    std::set<std::pair<int, int>> failed_;  // pairs the relay could not take, not tried again
    std::vector<std::string> problems_;
};

}  // namespace room

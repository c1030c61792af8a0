#include "testbed/lobby.h"

#include "testbed/testbed_constants.h"

#include <arpa/inet.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace room {

bool operator==(const PeerAddress& a, const PeerAddress& b) {
    return a.userId == b.userId && a.publicAddress == b.publicAddress && a.localAddress == b.localAddress &&
           a.audioPublicPort == b.audioPublicPort && a.audioLocalPort == b.audioLocalPort &&
           a.videoPublicPort == b.videoPublicPort && a.videoLocalPort == b.videoLocalPort;
}

std::string DottedAddress(uint32_t address) {
    in_addr value{htonl(address)};
    char text[INET_ADDRSTRLEN] = "?";
    inet_ntop(AF_INET, &value, text, sizeof text);
    return text;
}

std::optional<uint32_t> ParseDottedAddress(const std::string& text) {
    in_addr value{};
    if (inet_pton(AF_INET, text.c_str(), &value) != 1) return std::nullopt;
    return ntohl(value.s_addr);
}

bool SharedLobby::Publish(const PeerAddress& address) {
    std::lock_guard lock(mutex_);
    published_.push_back(address);
    return true;
}

std::vector<PeerAddress> SharedLobby::TakeNewPeers(int forUserId) {
    std::lock_guard lock(mutex_);
    size_t& taken = taken_[forUserId];
    std::vector<PeerAddress> peers;
    for (; taken < published_.size(); ++taken)
        if (published_[taken].userId != forUserId) peers.push_back(published_[taken]);
    return peers;
}

// Text form: "user public local audioPublic audioLocal videoPublic videoLocal".
std::string FormatPeerAddress(const PeerAddress& address) {
    std::ostringstream text;
    text << address.userId << ' ' << DottedAddress(address.publicAddress) << ' ' << DottedAddress(address.localAddress)
         << ' ' << address.audioPublicPort << ' ' << address.audioLocalPort << ' ' << address.videoPublicPort << ' '
         << address.videoLocalPort << '\n';
    return text.str();
}

std::optional<PeerAddress> ParsePeerAddress(const std::string& text) {
    std::istringstream fields(text);
    PeerAddress address;
    std::string publicText, localText;
    unsigned ports[4] = {};
    if (!(fields >> address.userId >> publicText >> localText >> ports[0] >> ports[1] >> ports[2] >> ports[3]))
        return std::nullopt;
    const auto publicAddress = ParseDottedAddress(publicText);
    const auto localAddress = ParseDottedAddress(localText);
    for (unsigned port : ports)
        if (port == 0 || port > 65535) return std::nullopt;
    if (!publicAddress || !localAddress) return std::nullopt;
    address.publicAddress = *publicAddress;
    address.localAddress = *localAddress;
    address.audioPublicPort = static_cast<uint16_t>(ports[0]);
    address.audioLocalPort = static_cast<uint16_t>(ports[1]);
    address.videoPublicPort = static_cast<uint16_t>(ports[2]);
    address.videoLocalPort = static_cast<uint16_t>(ports[3]);
    return address;
}

std::string DirectoryLobby::PathOf(int userId) const {
    return directory_ + "/player-" + std::to_string(userId) + ".addr";
}

bool DirectoryLobby::Publish(const PeerAddress& address) {
    // Written under a temporary name and renamed, so readers never see half a file.
    const std::string path = PathOf(address.userId);
    const std::string temporary = path + ".tmp";
    {
        std::ofstream file(temporary);
        file << FormatPeerAddress(address);
        if (!file) return false;
    }
    std::error_code error;
    std::filesystem::rename(temporary, path, error);
    return !error;
}

std::vector<PeerAddress> DirectoryLobby::TakeNewPeers(int forUserId) {
    std::lock_guard lock(mutex_);
    std::vector<PeerAddress> peers;
    const auto now = std::chrono::steady_clock::now();
    if (now < nextLook_) return peers;
    nextLook_ = now + pollInterval_;
    for (int userId = kFirstUserId; userId < kFirstUserId + kMaxPlayers; ++userId) {
        if (userId == forUserId) continue;
        std::ifstream file(PathOf(userId));
        if (!file) continue;
        std::stringstream text;
        text << file.rdbuf();
        const auto address = ParsePeerAddress(text.str());
        if (!address || address->userId != userId) continue;
        const auto seen = seen_.find(userId);
        if (seen != seen_.end() && seen->second == *address) continue;
        seen_[userId] = *address;
        peers.push_back(*address);
    }
    return peers;
}

}  // namespace room

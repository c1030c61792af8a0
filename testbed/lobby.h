// The game's lobby, as far as the engines need one: every player publishes
// the public and local address and ports of its sessions once it knows them
// (again when they change), and every player takes the others' as they come.
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace room {

struct PeerAddress {
    int userId = 0;
    uint32_t publicAddress = 0;  // host order, a.b.c.d = a<<24 | ... | d
    uint32_t localAddress = 0;
    uint16_t audioPublicPort = 0;
    uint16_t audioLocalPort = 0;
    uint16_t videoPublicPort = 0;
    uint16_t videoLocalPort = 0;
};

bool operator==(const PeerAddress& a, const PeerAddress& b);

// "a.b.c.d" for an address in host order.
std::string DottedAddress(uint32_t address);
// The host-order address of "a.b.c.d", or nothing.
std::optional<uint32_t> ParseDottedAddress(const std::string& text);

class Lobby {
public:
    virtual ~Lobby() = default;
    // False when the others could not be told.
    virtual bool Publish(const PeerAddress& address) = 0;
    // The players published since the last call, other than `forUserId`
    // itself. Thread-safe; each player calls it from its own thread.
    virtual std::vector<PeerAddress> TakeNewPeers(int forUserId) = 0;
};

// All players in this process.
class SharedLobby : public Lobby {
public:
    bool Publish(const PeerAddress& address) override;
    std::vector<PeerAddress> TakeNewPeers(int forUserId) override;

private:
    std::mutex mutex_;
    std::vector<PeerAddress> published_;
    std::map<int, size_t> taken_;  // per player: how many of published_ it has seen
};

// Players in separate processes that share a directory: each publishes one
// small text file, written completely before it appears under its name, and
// replaced whole when the player publishes again.
class DirectoryLobby : public Lobby {
public:
    // The directory is read at most once per `pollInterval`.
    DirectoryLobby(std::string directory, std::chrono::steady_clock::duration pollInterval)
        : directory_(std::move(directory)), pollInterval_(pollInterval) {}
    bool Publish(const PeerAddress& address) override;
    std::vector<PeerAddress> TakeNewPeers(int forUserId) override;

    std::string PathOf(int userId) const;

private:
    std::string directory_;
    std::chrono::steady_clock::duration pollInterval_;
    std::mutex mutex_;
    std::map<int, PeerAddress> seen_;  // what each player published last
    std::chrono::steady_clock::time_point nextLook_{};
};

// The one-line text form of an address record, and back.
std::string FormatPeerAddress(const PeerAddress& address);
std::optional<PeerAddress> ParsePeerAddress(const std::string& text);

}  // namespace room

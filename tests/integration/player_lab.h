// Players as tavolin-room processes behind translators of their own, with
// the address server and, when asked, a relay server on a "public" side
// (198.18.0.0/24 outside, 10.77.x.0/24 inside), meeting through a shared
// lobby directory. Each lab makes fresh namespaces: conntrack entries would
// outlive a test and change how the next one's translators map.
#pragma once

#include "tests/integration/network_lab.h"

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace integration {

constexpr const char* kPublicServerAddress = "198.18.0.1";
// A second address of the public side, for a second relay server.
constexpr const char* kSecondServerAddress = "198.18.0.250";
constexpr const char* kAddressServerPort = "3478";
constexpr const char* kRelayServerPort = "3479";
constexpr const char* kRelayUser = "player";
constexpr const char* kRelayPassword = "secret";

struct LabPlayer {
    int id;
    std::string ns;
    std::string localAddress;
    std::vector<std::string> options;  // added to the room's command line
};

class PlayerLab {
public:
    // `directory` is made empty; it holds the lobby and every output.
    explicit PlayerLab(std::filesystem::path directory);

    NetworkLab& Network() { return lab_; }
    // The public side: a bridge 198.18.0.1/24 (and .250) for the servers and the translators' outsides.
    std::string MakePublicSide();
    // Translator `index`: outside 198.18.0.(index+1), inside 10.77.index.1/24 on a bridge.
    std::string MakeTranslator(int index, Mapping mapping = Mapping::kPortPreserving);
    // A host 10.77.natIndex.host behind translator `nat`.
    LabPlayer MakeLanHost(const std::string& nat, int natIndex, int host, int playerId);

    std::unique_ptr<NamespaceProcess> StartAddressServer();
    // coturn with user kRelayUser on `address` (its relayed addresses there
    // too); false when it is not installed or did not start.
    bool StartRelayServer(const std::vector<std::string>& extra = {},
                          const std::string& address = kPublicServerAddress);
    // The `index`th relay server started dies (SIGKILL).
    void KillRelayServer(size_t index);
    static bool RelayServerInstalled();
    // The options that relay a player through the lab's relay server
    // (`server` as --relay takes it: "tcp:" first for TCP).
    static std::vector<std::string> RelayOptions(const std::string& policy,
                                                 const std::string& server = std::string(kPublicServerAddress) + ":" +
                                                                             kRelayServerPort);
    static std::string RelayEndpoint(const std::string& address = kPublicServerAddress) {
        return address + ":" + kRelayServerPort;
    }

    // Runs the players as one room to their end: each one's exit status, or
    // nothing when it did not end in time. `during` runs meanwhile.
    std::vector<std::optional<int>> RunPlayers(const std::vector<LabPlayer>& players, int seconds,
                                               const std::function<void()>& during = {});
    // Waits until player `id` has printed `text`; false when it did not in time.
    bool AwaitPrinted(int id, const std::string& text, std::chrono::milliseconds timeout) const;

    std::string Printed(int id) const;
    std::string Stats(int id) const;
    std::string Log(int id) const;

private:
    std::string OutDirectory(int id) const;

    NetworkLab lab_;
    std::filesystem::path directory_;
    std::string publicSide_;
    std::vector<std::unique_ptr<NamespaceProcess>> relayServers_;
};

// Every number written under `key` in the JSON text.
std::vector<double> NumbersOf(const std::string& json, const std::string& key);
// The text of the first array written under `key` (brackets counted; the
// room writes no bracket in its texts).
std::string ArrayOf(const std::string& json, const std::string& key);

}  // namespace integration

#include "tests/integration/player_lab.h"

#include <unistd.h>

#include <cstdlib>
#include <thread>

namespace integration {
namespace {
using namespace std::chrono_literals;

constexpr auto kServerStartTime = 300ms;
constexpr auto kPrintedPollInterval = 20ms;
constexpr auto kExitAllowance = 15s;  // beyond the players' own run time
constexpr const char* kTurnServer = "/usr/bin/turnserver";
}  // namespace

PlayerLab::PlayerLab(std::filesystem::path directory) : directory_(std::move(directory)) {
    std::filesystem::remove_all(directory_);
    std::filesystem::create_directories(directory_);
}

std::string PlayerLab::MakePublicSide() {
    publicSide_ = lab_.AddNamespace("pub");
    lab_.AddBridge(publicSide_, "br0");
    lab_.AddAddress(publicSide_, "br0", std::string(kPublicServerAddress) + "/24");
    lab_.AddAddress(publicSide_, "br0", std::string(kSecondServerAddress) + "/24");
    return publicSide_;
}

std::string PlayerLab::MakeTranslator(int index, Mapping mapping) {
    const std::string nat = lab_.AddNamespace("nat" + std::to_string(index));
    const std::string outside = "vp" + std::to_string(index);
    lab_.Link(publicSide_, outside, nat, "vn");
    lab_.AttachToBridge(publicSide_, outside, "br0");
    lab_.AddAddress(nat, "vn", "198.18.0." + std::to_string(index + 1) + "/24");
    lab_.AddBridge(nat, "br1");
    lab_.AddAddress(nat, "br1", "10.77." + std::to_string(index) + ".1/24");
    lab_.Translate(nat, "vn", mapping);
    return nat;
}

LabPlayer PlayerLab::MakeLanHost(const std::string& nat, int natIndex, int host, int playerId) {
    const std::string lan = lab_.AddNamespace("lan" + std::to_string(playerId));
    const std::string inside = "vr" + std::to_string(playerId);
    lab_.Link(nat, inside, lan, "vl");
    lab_.AttachToBridge(nat, inside, "br1");
    const std::string subnet = "10.77." + std::to_string(natIndex) + ".";
    lab_.AddAddress(lan, "vl", subnet + std::to_string(host) + "/24");
    lab_.AddDefaultRoute(lan, subnet + "1");
    return {playerId, lan, subnet + std::to_string(host), {}};
}

std::unique_ptr<NamespaceProcess> PlayerLab::StartAddressServer() {
    auto server = std::make_unique<NamespaceProcess>(
        publicSide_,
        std::vector<std::string>{TAVOLIN_ADDRD_PATH, "--bind", kPublicServerAddress, "--port", kAddressServerPort},
        (directory_ / "addrd.txt").string());
    std::this_thread::sleep_for(kServerStartTime);
    return server;
}

bool PlayerLab::RelayServerInstalled() { return access(kTurnServer, X_OK) == 0; }

// Peers here are public addresses of the lab, so no peer range is opened;
// the players' own networks are denied, as a public server denies private
// ranges: a player told of another's local address (before its public one)
// must not have the server send there. Measured here: once coturn's relay
// socket has sent to an address it has no route to, it relays nothing more
// for that allocation, though it still answers its requests.
bool PlayerLab::StartRelayServer(const std::vector<std::string>& extra, const std::string& address) {
    if (!RelayServerInstalled()) return false;
    const std::string home = (directory_ / ("turn-" + address)).string();
    std::filesystem::create_directories(home);
    std::vector<std::string> arguments{kTurnServer,
                                       "-n",
                                       "--listening-ip=" + address,
                                       "--relay-ip=" + address,
                                       std::string("--listening-port=") + kRelayServerPort,
                                       "--lt-cred-mech",
                                       "--denied-peer-ip=10.0.0.0-10.255.255.255",
                                       std::string("--user=") + kRelayUser + ":" + kRelayPassword,
                                       "--realm=lab.test",
                                       "--no-tls",
                                       "--no-dtls",
                                       "--no-cli",
                                       "--simple-log",
                                       "--log-file=" + home + "/turn.log",
                                       "--pidfile=" + home + "/turn.pid",
                                       "--db=" + home + "/turndb"};
    arguments.insert(arguments.end(), extra.begin(), extra.end());
    relayServers_.push_back(std::make_unique<NamespaceProcess>(publicSide_, arguments, home + "/stdout.txt"));
    std::this_thread::sleep_for(kServerStartTime);
    return relayServers_.back()->Started();
}

void PlayerLab::KillRelayServer(size_t index) { relayServers_.at(index)->Kill(); }

std::vector<std::string> PlayerLab::RelayOptions(const std::string& policy, const std::string& server) {
    return {"--relay",          server,         "--relay-user",   kRelayUser,
            "--relay-password", kRelayPassword, "--relay-policy", policy};
}

std::vector<std::optional<int>> PlayerLab::RunPlayers(const std::vector<LabPlayer>& players, int seconds,
                                                      const std::function<void()>& during) {
    std::vector<std::unique_ptr<NamespaceProcess>> processes;
    for (const LabPlayer& player : players) {
        const std::string id = std::to_string(player.id);
        std::vector<std::string> arguments{TAVOLIN_ROOM_PATH,
                                           "--join",
                                           directory_.string(),
                                           "--id",
                                           id,
                                           "--players",
                                           std::to_string(players.size()),
                                           "--server",
                                           std::string(kPublicServerAddress) + ":" + kAddressServerPort,
                                           "--local-address",
                                           player.localAddress,
                                           "--seconds",
                                           std::to_string(seconds),
                                           "--out",
                                           OutDirectory(player.id)};
        arguments.insert(arguments.end(), player.options.begin(), player.options.end());
        processes.push_back(std::make_unique<NamespaceProcess>(player.ns, arguments,
                                                               (directory_ / ("player-" + id + ".txt")).string()));
    }
    if (during) during();
    std::vector<std::optional<int>> statuses;
    for (const auto& process : processes)
        statuses.push_back(process->Wait(std::chrono::seconds(seconds) + kExitAllowance));
    return statuses;
}

bool PlayerLab::AwaitPrinted(int id, const std::string& text, std::chrono::milliseconds timeout) const {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (Printed(id).find(text) == std::string::npos) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(kPrintedPollInterval);
    }
    return true;
}

std::string PlayerLab::Printed(int id) const {
    return ReadFile((directory_ / ("player-" + std::to_string(id) + ".txt")).string());
}
std::string PlayerLab::Stats(int id) const { return ReadFile(OutDirectory(id) + "/stats.json"); }
std::string PlayerLab::Log(int id) const { return ReadFile(OutDirectory(id) + "/log.txt"); }

std::string PlayerLab::OutDirectory(int id) const { return (directory_ / ("out-" + std::to_string(id))).string(); }

// No regex: GCC 12 warns falsely inside std::regex in sanitizer builds.
std::vector<double> NumbersOf(const std::string& json, const std::string& key) {
    std::vector<double> numbers;
    const std::string quoted = "\"" + key + "\":";
    for (size_t at = json.find(quoted); at != std::string::npos; at = json.find(quoted, at + 1)) {
        const char* start = json.c_str() + at + quoted.size();
        char* end = nullptr;
        const double value = std::strtod(start, &end);
        if (end != start) numbers.push_back(value);
    }
    return numbers;
}

std::string ArrayOf(const std::string& json, const std::string& key) {
    const size_t start = json.find("\"" + key + "\":[");
    if (start == std::string::npos) return "";
    int depth = 0;
    for (size_t at = json.find('[', start); at < json.size(); ++at) {
        if (json[at] == '[') ++depth;
        if (json[at] == ']' && --depth == 0) return json.substr(start, at + 1 - start);
    }
    return "";
}

}  // namespace integration

#include "tests/integration/network_lab.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

extern char** environ;

namespace integration {
namespace {
constexpr auto kExitPollInterval = std::chrono::milliseconds(20);
constexpr auto kKillGrace = std::chrono::seconds(2);

// Commands are built from our own names only; their output is not needed.
bool Succeeds(const std::string& command) { return std::system((command + " >/dev/null 2>&1").c_str()) == 0; }

std::string UniquePrefix() {
    static std::atomic<int> counter{0};
    return "tvr" + std::to_string(getpid()) + "x" + std::to_string(counter++);
}
}  // namespace

std::string NetworkLab::WhyUnavailable() {
    if (geteuid() != 0) return "network namespaces need root";
    if (!Succeeds("command -v ip") || !Succeeds("command -v nft")) return "ip or nft is not installed";
    const std::string probe = UniquePrefix() + "probe";
    const bool made = Succeeds("ip netns add " + probe);
    const bool translates = made && Succeeds("ip netns exec " + probe + " nft add table ip nat") &&
                            Succeeds("ip netns exec " + probe +
                                     " nft 'add chain ip nat post { type nat hook postrouting priority 100 ; }'") &&
                            Succeeds("ip netns exec " + probe + " nft add rule ip nat post masquerade");
    if (made) Succeeds("ip netns del " + probe);
    if (!made) return "this machine does not allow network namespaces";
    if (!translates) return "this machine does not allow masquerading in a network namespace";
    return "";
}

NetworkLab::NetworkLab() : prefix_(UniquePrefix()) {}

NetworkLab::~NetworkLab() {
    for (const std::string& ns : namespaces_) Succeeds("ip netns pids " + ns + " | xargs -r kill -9");
    for (const std::string& ns : namespaces_) Succeeds("ip netns del " + ns);
}

void NetworkLab::Run(const std::string& command) {
    if (failed_.empty() && !Succeeds(command)) failed_ = command;
}

std::string NetworkLab::AddNamespace(const std::string& role) {
    const std::string ns = prefix_ + role;
    Run("ip netns add " + ns);
    if (failed_.empty()) namespaces_.push_back(ns);
    Run("ip -n " + ns + " link set lo up");
    return ns;
}

void NetworkLab::Link(const std::string& first, const std::string& firstName, const std::string& second,
                      const std::string& secondName) {
    Run("ip -n " + first + " link add " + firstName + " type veth peer name " + secondName + " netns " + second);
    Run("ip -n " + first + " link set " + firstName + " up");
    Run("ip -n " + second + " link set " + secondName + " up");
}

void NetworkLab::AddBridge(const std::string& ns, const std::string& bridge) {
    Run("ip -n " + ns + " link add " + bridge + " type bridge");
    Run("ip -n " + ns + " link set " + bridge + " up");
}

void NetworkLab::AttachToBridge(const std::string& ns, const std::string& device, const std::string& bridge) {
    Run("ip -n " + ns + " link set " + device + " master " + bridge);
}

void NetworkLab::AddAddress(const std::string& ns, const std::string& device, const std::string& addressWithPrefix) {
    Run("ip -n " + ns + " addr add " + addressWithPrefix + " dev " + device);
}

void NetworkLab::AddDefaultRoute(const std::string& ns, const std::string& gateway) {
    Run("ip -n " + ns + " route add default via " + gateway);
}

void NetworkLab::Translate(const std::string& ns, const std::string& publicDevice, Mapping mapping) {
    const std::string inside = "ip netns exec " + ns + " ";
    Run(inside + "sysctl -qw net.ipv4.ip_forward=1");
    Run(inside + "nft add table ip nat");
    Run(inside + "nft 'add chain ip nat post { type nat hook postrouting priority 100 ; }'");
    Run(inside + "nft add rule ip nat post oifname " + publicDevice + " masquerade" +
        (mapping == Mapping::kSymmetric ? " random,fully-random" : ""));
    Run(inside + "nft add table ip filter");
    Run(inside + "nft 'add chain ip filter input { type filter hook input priority 0 ; }'");
    Run(inside + "nft add rule ip filter input iifname " + publicDevice + " meta l4proto udp drop");
}

void NetworkLab::AllowUdpOnlyTo(const std::string& ns, const std::string& publicDevice, const std::string& address) {
    DropForwardedUdp(ns, publicDevice, "ip daddr != " + address);
}

void NetworkLab::BlockUdp(const std::string& ns, const std::string& publicDevice) {
    DropForwardedUdp(ns, publicDevice, "");
}

void NetworkLab::DropForwardedUdp(const std::string& ns, const std::string& publicDevice,
                                  const std::string& condition) {
    const std::string inside = "ip netns exec " + ns + " ";
    Run(inside + "nft add table inet fw");
    Run(inside + "nft 'add chain inet fw forward_udp { type filter hook forward priority 0 ; }'");
    Run(inside + "nft add rule inet fw forward_udp oifname " + publicDevice + " meta l4proto udp " + condition +
        " drop");
}

void NetworkLab::DropUdpAtRandom(const std::string& ns, int percent) {
    const std::string inside = "ip netns exec " + ns + " ";
    Run(inside + "nft add table inet lossy");
    Run(inside + "nft 'add chain inet lossy out { type filter hook output priority 0 ; }'");
    Run(inside + "nft add rule inet lossy out meta l4proto udp numgen random mod 100 '<' " + std::to_string(percent) +
        " drop");
}

NamespaceProcess::NamespaceProcess(const std::string& ns, const std::vector<std::string>& arguments,
                                   const std::string& outputPath) {
    std::vector<std::string> command{"ip", "netns", "exec", ns};
    command.insert(command.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& argument : command) argv.push_back(argument.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, outputPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
    if (posix_spawnp(&pid_, "ip", &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
}

NamespaceProcess::~NamespaceProcess() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    if (!Wait(std::chrono::duration_cast<std::chrono::milliseconds>(kKillGrace))) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
}

void NamespaceProcess::Kill() {
    if (pid_ <= 0) return;
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
}

std::optional<int> NamespaceProcess::Wait(std::chrono::milliseconds timeout) {
    if (pid_ <= 0) return std::nullopt;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    int status = 0;
    while (waitpid(pid_, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() >= deadline) return std::nullopt;
        std::this_thread::sleep_for(kExitPollInterval);
    }
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

std::string ReadFile(const std::string& path) {
    std::ifstream file(path);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

}  // namespace integration

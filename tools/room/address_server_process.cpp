#include "tools/room/address_server_process.h"

#include "tools/room/room_constants.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

extern char** environ;

namespace room {
namespace {
constexpr const char* kLoopbackText = "127.0.0.1";
constexpr const char* kListeningText = "listening";
constexpr auto kStopPollInterval = std::chrono::milliseconds(10);

// A port that is free on loopback right now (another program may still take
// it before the child binds it; Start then tries again).
uint16_t FreeLoopbackPort() {
    const int probe = socket(AF_INET, SOCK_DGRAM, 0);
    if (probe < 0) return 0;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(kLoopbackAddress);
    socklen_t length = sizeof address;
    uint16_t port = 0;
    if (bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        getsockname(probe, reinterpret_cast<sockaddr*>(&address), &length) == 0)
        port = ntohs(address.sin_port);
    close(probe);
    return port;
}

// Reads the child's output until it says it listens, it ends, or time runs out.
bool WaitUntilListening(int output, std::string* said) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kAddressServerStartTimeoutMs);
    while (said->find(kListeningText) == std::string::npos) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return false;
        pollfd readable{output, POLLIN, 0};
        if (poll(&readable, 1, static_cast<int>(left.count())) <= 0) return false;
        char chunk[256];
        const ssize_t got = read(output, chunk, sizeof chunk);
        if (got <= 0) return false;
        said->append(chunk, static_cast<size_t>(got));
    }
    return true;
}

void StopChild(pid_t pid) {
    kill(pid, SIGTERM);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kAddressServerStopTimeoutMs);
    while (waitpid(pid, nullptr, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() >= deadline) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
            return;
        }
        std::this_thread::sleep_for(kStopPollInterval);
    }
}
}  // namespace

std::unique_ptr<AddressServerProcess> AddressServerProcess::Start(const std::string& program, std::string* error) {
    for (int attempt = 0; attempt < kAddressServerStartAttempts; ++attempt) {
        const uint16_t port = FreeLoopbackPort();
        if (port == 0) {
            *error = "no free port on loopback";
            return nullptr;
        }
        int pipeEnds[2];
        if (pipe2(pipeEnds, O_CLOEXEC) != 0) {
            *error = std::string("pipe: ") + std::strerror(errno);
            return nullptr;
        }
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], STDOUT_FILENO);
        const std::string portText = std::to_string(port);
        std::vector<char*> arguments{const_cast<char*>(program.c_str()), const_cast<char*>("--bind"),
                                     const_cast<char*>(kLoopbackText), const_cast<char*>("--port"),
                                     const_cast<char*>(portText.c_str()), nullptr};
        pid_t pid = 0;
        const int spawned = posix_spawn(&pid, program.c_str(), &actions, nullptr, arguments.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        close(pipeEnds[1]);
        if (spawned != 0) {
            close(pipeEnds[0]);
            *error = "cannot start " + program + ": " + std::strerror(spawned);
            return nullptr;
        }
        std::string said;
        if (WaitUntilListening(pipeEnds[0], &said))
            return std::unique_ptr<AddressServerProcess>(new AddressServerProcess(pid, pipeEnds[0], port));
        StopChild(pid);
        close(pipeEnds[0]);
        *error = program + " did not start listening on port " + portText;
    }
    return nullptr;
}

AddressServerProcess::~AddressServerProcess() {
    StopChild(pid_);
    close(output_);
}

}  // namespace room

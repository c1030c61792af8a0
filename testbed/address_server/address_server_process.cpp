#include "testbed/address_server/address_server_process.h"

#include "testkit/process/child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>

namespace room {
namespace {
constexpr const char* kLoopbackText = "127.0.0.1";
constexpr const char* kAnyFreePort = "0";
// The server's first line names the port it took: "...listening on ADDR:PORT".
constexpr const char* kListeningText = "listening on ";
// How long the child may take to start listening, and to stop before it is killed.
constexpr int kAddressServerStartTimeoutMs = 5000;
constexpr int kAddressServerStopTimeoutMs = 2000;

// Reads the child's first line, or what came before it ended or time ran out.
std::string FirstLine(int output) {
    std::string said;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kAddressServerStartTimeoutMs);
    while (said.find('\n') == std::string::npos) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        pollfd readable{output, POLLIN, 0};
        if (left.count() <= 0 || poll(&readable, 1, static_cast<int>(left.count())) <= 0) break;
        char chunk[256];
        const ssize_t got = read(output, chunk, sizeof chunk);
        if (got <= 0) break;
        said.append(chunk, static_cast<size_t>(got));
    }
    return said.substr(0, said.find('\n'));
}

// The port after the last colon of "...listening on ADDR:PORT", or 0.
uint16_t ListeningPort(const std::string& line) {
    if (line.find(kListeningText) == std::string::npos) return 0;
    const unsigned long port = std::strtoul(line.c_str() + line.rfind(':') + 1, nullptr, 10);
    return port > 0 && port <= 65535 ? static_cast<uint16_t>(port) : 0;
}

}  // namespace

std::unique_ptr<AddressServerProcess> AddressServerProcess::Start(const std::string& program, std::string* error) {
    int pipeEnds[2];
    if (pipe2(pipeEnds, O_CLOEXEC) != 0) {
        *error = std::string("pipe: ") + std::strerror(errno);
        return nullptr;
    }
    const pid_t pid = testkit::SpawnChild({program, "--bind", kLoopbackText, "--port", kAnyFreePort}, pipeEnds[1],
                                          testkit::ChildErrors::kInherited, error);
    close(pipeEnds[1]);
    if (pid < 0) {
        close(pipeEnds[0]);
        return nullptr;
    }
    const std::string line = FirstLine(pipeEnds[0]);
    const uint16_t port = ListeningPort(line);
    if (port == 0) {
        testkit::StopChild(pid, kAddressServerStopTimeoutMs);
        close(pipeEnds[0]);
        *error = program + " did not start listening" + (line.empty() ? "" : ": " + line);
        return nullptr;
    }
    return std::unique_ptr<AddressServerProcess>(new AddressServerProcess(pid, pipeEnds[0], port));
}

AddressServerProcess::~AddressServerProcess() {
    testkit::StopChild(pid_, kAddressServerStopTimeoutMs);
    close(output_);
}

}  // namespace room

#include "testbed/address_server/relay_server_process.h"

#include "testkit/process/child_process.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>

namespace room {
namespace {
constexpr uint32_t kLoopback = 0x7F000001;
constexpr size_t kPasswordBytes = 16;
// How long coturn may take to answer, how often it is asked, and how long it may take to stop.
constexpr int kStartTimeoutMs = 5000;
constexpr int kAskEveryMs = 100;
constexpr int kStopTimeoutMs = 2000;
// A STUN Binding request: type, length 0, the magic cookie, a transaction id.
constexpr uint8_t kBindingRequest[20] = {0x00, 0x01, 0x00, 0x00, 0x21, 0x12, 0xA4, 0x42, 't', 'a',
                                         'v',  'o',  'l',  'i',  'n',  '-',  'r',  'o',  'o', 'm'};
constexpr uint8_t kBindingSuccess[2] = {0x01, 0x01};

sockaddr_in LoopbackAt(uint16_t port) {
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_addr.s_addr = htonl(kLoopback);
    at.sin_port = htons(port);
    return at;
}

// A port free on loopback for both UDP and TCP a moment ago.
uint16_t FreePort() {
    for (int attempt = 0; attempt < 16; ++attempt) {
        const int udp = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_in at = LoopbackAt(0);
        socklen_t length = sizeof at;
        bind(udp, reinterpret_cast<sockaddr*>(&at), sizeof at);
        getsockname(udp, reinterpret_cast<sockaddr*>(&at), &length);
        const int tcp = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const bool tcpFree = bind(tcp, reinterpret_cast<sockaddr*>(&at), sizeof at) == 0;
        close(tcp);
        close(udp);
        if (tcpFree) return ntohs(at.sin_port);
    }
    return 0;
}

std::string RandomHex(size_t bytes) {
    std::random_device device;
    std::string hex;
    char digits[3];
    for (size_t i = 0; i < bytes; ++i) {
        std::snprintf(digits, sizeof digits, "%02x", static_cast<unsigned>(device() & 0xFF));
        hex += digits;
    }
    return hex;
}

// Asks every kAskEveryMs until the server answers or time runs out.
bool Answers(uint16_t port) {
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    const sockaddr_in server = LoopbackAt(port);
    bool answered = false;
    for (int waited = 0; !answered && waited < kStartTimeoutMs; waited += kAskEveryMs) {
        sendto(fd, kBindingRequest, sizeof kBindingRequest, 0, reinterpret_cast<const sockaddr*>(&server),
               sizeof server);
        pollfd readable{fd, POLLIN, 0};
        if (poll(&readable, 1, kAskEveryMs) <= 0) continue;
        uint8_t answer[512];
        const ssize_t got = recv(fd, answer, sizeof answer, 0);
        answered = got >= 20 && answer[0] == kBindingSuccess[0] && answer[1] == kBindingSuccess[1] &&
                   std::equal(kBindingRequest + 8, kBindingRequest + 20, answer + 8);
    }
    close(fd);
    return answered;
}
}  // namespace

std::string RelayServerProcess::FindProgram() {
    for (const char* path : {"/usr/bin/turnserver", "/usr/sbin/turnserver"})
        if (access(path, X_OK) == 0) return path;
    return "";
}

// The password stays off the command line, where any user could read it.
std::unique_ptr<RelayServerProcess> RelayServerProcess::Start(const std::string& program, std::string* error) {
    char directory[] = "/tmp/tavolin-room-turn-XXXXXX";
    const uint16_t port = FreePort();
    if (!mkdtemp(directory) || port == 0) {
        *error = "no directory or no free port for the relay server";
        return nullptr;
    }
    const std::string home = directory;
    const std::string password = RandomHex(kPasswordBytes);
    std::ofstream(home + "/turnserver.conf")
        << "listening-ip=127.0.0.1\nrelay-ip=127.0.0.1\nlistening-port=" << port
        << "\nlt-cred-mech\nuser=room:" << password
        << "\nrealm=tavolin-room\nno-tls\nno-dtls\nno-cli\nallow-loopback-peers\nsimple-log\n"
        << "log-file=" << home << "/turn.log\npidfile=" << home << "/turn.pid\nuserdb=" << home << "/turndb\n";
    const pid_t pid =
        testkit::SpawnChild({program, "-c", home + "/turnserver.conf"}, -1, testkit::ChildErrors::kInherited, error);
    if (pid < 0) {
        std::filesystem::remove_all(home);
        return nullptr;
    }
    std::unique_ptr<RelayServerProcess> server(new RelayServerProcess(pid, home, port, password));
    if (!Answers(port)) {
        *error = program + " did not answer on 127.0.0.1:" + std::to_string(port);
        return nullptr;
    }
    return server;
}

RelayServerProcess::~RelayServerProcess() {
    testkit::StopChild(pid_, kStopTimeoutMs);
    std::filesystem::remove_all(directory_);
}

}  // namespace room

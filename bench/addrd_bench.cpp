// Requests per second that tavolin-addrd answers on one core, against a bare
// echo loop (recvmmsg, sendmmsg of a reply of the same size) on the same core
// in the same run; and its reply size over its request size, since a public
// UDP service must not answer with more than it was sent. Server and client
// are pinned to different cores; traffic stays on loopback.
#include "transport/address_datagram.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {
constexpr int kServerCore = 0;
constexpr int kClientCore = 1;
constexpr auto kMeasured = std::chrono::seconds(2);
constexpr int kInFlight = 128;  // requests outstanding before the client waits for answers
constexpr int kBatch = 32;
constexpr int kRepetitions = 3;  // interleaved: addrd, echo, addrd, echo, ...
constexpr int kLostAfterMs = 20;

void PinTo(int core) {
    cpu_set_t set;
    CPU_ZERO(&set);
    CPU_SET(core, &set);
    sched_setaffinity(0, sizeof set, &set);
}

sockaddr_in Loopback(uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    return address;
}

struct Server {
    pid_t pid = -1;
    uint16_t port = 0;
};

void StopServer(const Server& server) {
    if (server.pid <= 0) return;
    kill(server.pid, SIGTERM);
    waitpid(server.pid, nullptr, 0);
}

// tavolin-addrd on a free port, pinned to the server core.
Server StartAddrd() {
    int output[2];
    if (pipe(output) != 0) return {};
    Server server;
    server.pid = fork();
    if (server.pid == 0) {
        PinTo(kServerCore);
        dup2(output[1], STDOUT_FILENO);
        close(output[0]);
        execl(TAVOLIN_DEFAULT_ADDRD, TAVOLIN_DEFAULT_ADDRD, "--port", "0", static_cast<char*>(nullptr));
        _exit(127);
    }
    close(output[1]);
    char line[256] = {};
    FILE* stream = fdopen(output[0], "r");
    if (stream && std::fgets(line, sizeof line, stream)) {
        if (const char* colon = std::strrchr(line, ':')) server.port = static_cast<uint16_t>(std::atoi(colon + 1));
    }
    // The output pipe stays open (leaked to the end of the run) so the server never writes into a closed pipe.
    return server;
}

// The baseline: receive a batch, answer each with `replyBytes` bytes, pinned to the server core.
Server StartBareEcho(size_t replyBytes) {
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in address = Loopback(0);
    socklen_t length = sizeof address;
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        return {};
    Server server;
    server.port = ntohs(address.sin_port);
    server.pid = fork();
    if (server.pid == 0) {
        PinTo(kServerCore);
        std::array<std::array<uint8_t, 64>, kBatch> buffers{};
        std::array<sockaddr_in, kBatch> senders{};
        std::array<iovec, kBatch> in{}, out{};
        std::array<mmsghdr, kBatch> messages{}, replies{};
        std::vector<uint8_t> reply(replyBytes, 0x55);
        for (;;) {
            for (int i = 0; i < kBatch; ++i) {
                in[i] = {buffers[i].data(), buffers[i].size()};
                messages[i].msg_hdr = {};
                messages[i].msg_hdr.msg_name = &senders[i];
                messages[i].msg_hdr.msg_namelen = sizeof senders[i];
                messages[i].msg_hdr.msg_iov = &in[i];
                messages[i].msg_hdr.msg_iovlen = 1;
            }
            const int count = recvmmsg(fd, messages.data(), kBatch, MSG_WAITFORONE, nullptr);
            if (count <= 0) continue;
            for (int i = 0; i < count; ++i) {
                out[i] = {reply.data(), reply.size()};
                replies[i].msg_hdr = {};
                replies[i].msg_hdr.msg_name = &senders[i];
                replies[i].msg_hdr.msg_namelen = sizeof senders[i];
                replies[i].msg_hdr.msg_iov = &out[i];
                replies[i].msg_hdr.msg_iovlen = 1;
            }
            sendmmsg(fd, replies.data(), static_cast<unsigned>(count), 0);
        }
    }
    close(fd);
    return server;
}

struct Load {
    double answersPerSecond = 0;
    size_t replyBytes = 0;
};

// Keeps kInFlight requests outstanding for kMeasured and counts the answers.
Load Drive(uint16_t port, const std::vector<uint8_t>& request) {
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    const sockaddr_in server = Loopback(port);
    connect(fd, reinterpret_cast<const sockaddr*>(&server), sizeof server);
    Load load;
    uint64_t answers = 0;
    int inFlight = 0;
    std::array<uint8_t, 256> buffer{};
    const auto start = std::chrono::steady_clock::now();
    const auto end = start + kMeasured;
    while (std::chrono::steady_clock::now() < end) {
        while (inFlight < kInFlight) {
            if (send(fd, request.data(), request.size(), 0) < 0) break;
            ++inFlight;
        }
        pollfd ready{fd, POLLIN, 0};
        if (poll(&ready, 1, kLostAfterMs) <= 0) {
            inFlight = 0;  // what is still out was dropped
            continue;
        }
        ssize_t got;
        while ((got = recv(fd, buffer.data(), buffer.size(), MSG_DONTWAIT)) > 0) {
            load.replyBytes = static_cast<size_t>(got);
            ++answers;
            inFlight = std::max(0, inFlight - 1);
        }
    }
    load.answersPerSecond =
        static_cast<double>(answers) / std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    close(fd);
    return load;
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}
}  // namespace

int main() {
    PinTo(kClientCore);
    std::vector<uint8_t> request;
    const uint8_t one[address_exchange::kRequestPayloadBytes] = {1, 0, 0, 0};  // what an engine asks with
    address_exchange::BuildDatagram(address_exchange::kTypePublicAddress, one, sizeof one, &request);

    std::vector<double> addrdRates, echoRates;
    size_t replyBytes = 0;
    for (int repetition = 0; repetition < kRepetitions; ++repetition) {
        const Server addrd = StartAddrd();
        if (addrd.port == 0) {
            std::fprintf(stderr, "tavolin-addrd did not start\n");
            return 1;
        }
        const Load answered = Drive(addrd.port, request);
        StopServer(addrd);
        replyBytes = answered.replyBytes;
        addrdRates.push_back(answered.answersPerSecond);

        const Server echo = StartBareEcho(replyBytes ? replyBytes : request.size());
        echoRates.push_back(Drive(echo.port, request).answersPerSecond);
        StopServer(echo);
    }
    const double addrd = Median(addrdRates), echo = Median(echoRates);
    const double amplification = static_cast<double>(replyBytes) / static_cast<double>(request.size());
    std::printf("tavolin-addrd on one core: %.0f answers/s; bare recvmmsg/sendmmsg echo: %.0f answers/s "
                "(medians of %d)\n", addrd, echo, kRepetitions);
    std::printf("answers/s relative to the bare echo:  %.3f\n", echo > 0 ? addrd / echo : 0);
    std::printf("reply bytes / request bytes:          %.3f (%zu / %zu; goal <= 1: %s)\n", amplification, replyBytes,
                request.size(), amplification <= 1 ? "met" : "NOT MET");
    return amplification <= 1 ? 0 : 2;
}

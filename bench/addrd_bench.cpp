// Requests per second that tavolin-addrd answers on one core, against a bare
// echo loop (recvmmsg, sendmmsg of a reply of the same size) on the same core
// in the same run. The requests leave from 254 source addresses in turn
// (127.0.0.2 ..) and the server runs with a budget it never exhausts, so the
// figure is its answering capacity, the budget's bookkeeping included, not
// the budget itself.
// Then what a flood with a forged source gets its victim: requests from one
// address at full speed against the default budget, reply bytes received over
// request bytes sent, which a public UDP service must keep at or below 1. A
// single reply stays 13 bytes for an 11-byte request: both sizes are fixed by
// the engines that ask. Server and client are pinned to different cores;
// traffic stays on loopback.
#include "bench/pin_to_core.h"
#include "transport/address/address_datagram.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
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
constexpr uint64_t kMaxRequests = 50000000;            // a bound on every sending loop besides its time
constexpr uint32_t kFirstSource = 0x7F000002;          // 127.0.0.2
constexpr uint32_t kSources = 254;                     // .. 127.0.0.255
constexpr const char* kUnexhaustedBudget = "1000000";  // answers per second per source
constexpr auto kFlood = std::chrono::seconds(1);
constexpr int kQuietAfterFloodMs = 100;

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

// tavolin-addrd on a free port, pinned to the server core; answersPerSecond
// null for its default budget.
Server StartAddrd(const char* answersPerSecond) {
    int output[2];
    if (pipe(output) != 0) return {};
    Server server;
    server.pid = fork();
    if (server.pid == 0) {
        bench::PinToCore(kServerCore);
        dup2(output[1], STDOUT_FILENO);
        close(output[0]);
        if (answersPerSecond)
            execl(TAVOLIN_DEFAULT_ADDRD, TAVOLIN_DEFAULT_ADDRD, "--port", "0", "--answers-per-second", answersPerSecond,
                  static_cast<char*>(nullptr));
        else
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
        bench::PinToCore(kServerCore);
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

// Room for one IP_PKTINFO control message.
union PacketInfoControl {
    char bytes[CMSG_SPACE(sizeof(in_pktinfo))];
    cmsghdr align;
};

// One socket bound to every address, so that the answers to each source
// address reach it; each request names its source address with IP_PKTINFO.
class SourceRotation {
public:
    SourceRotation() {
        fd_ = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK, 0);
        sockaddr_in any{};
        any.sin_family = AF_INET;
        any.sin_addr.s_addr = htonl(INADDR_ANY);
        if (bind(fd_, reinterpret_cast<const sockaddr*>(&any), sizeof any) != 0) {
            close(fd_);
            fd_ = -1;
        }
    }
    ~SourceRotation() {
        if (fd_ >= 0) close(fd_);
    }
    SourceRotation(const SourceRotation&) = delete;
    SourceRotation& operator=(const SourceRotation&) = delete;

    int fd() const { return fd_; }

    // Sends from the next source address in turn.
    bool Send(const sockaddr_in& to, const std::vector<uint8_t>& request) {
        iovec data{const_cast<uint8_t*>(request.data()), request.size()};
        PacketInfoControl control{};
        msghdr message{};
        message.msg_name = const_cast<sockaddr_in*>(&to);
        message.msg_namelen = sizeof to;
        message.msg_iov = &data;
        message.msg_iovlen = 1;
        message.msg_control = control.bytes;
        message.msg_controllen = sizeof control.bytes;
        cmsghdr* c = CMSG_FIRSTHDR(&message);
        c->cmsg_level = IPPROTO_IP;
        c->cmsg_type = IP_PKTINFO;
        c->cmsg_len = CMSG_LEN(sizeof(in_pktinfo));
        in_pktinfo info{};
        info.ipi_spec_dst.s_addr = htonl(kFirstSource + next_);
        std::memcpy(CMSG_DATA(c), &info, sizeof info);
        next_ = (next_ + 1) % kSources;
        return sendmsg(fd_, &message, 0) == static_cast<ssize_t>(request.size());
    }

private:
    int fd_ = -1;
    uint32_t next_ = 0;
};

// Keeps kInFlight requests outstanding for kMeasured, from every source
// address in turn, and counts the answers.
Load Drive(uint16_t port, const std::vector<uint8_t>& request) {
    SourceRotation client;
    const sockaddr_in server = Loopback(port);
    Load load;
    uint64_t answers = 0, sent = 0;
    int inFlight = 0;
    std::array<uint8_t, 256> buffer{};
    const auto start = std::chrono::steady_clock::now();
    const auto end = start + kMeasured;
    while (client.fd() >= 0 && std::chrono::steady_clock::now() < end && sent < kMaxRequests) {
        while (inFlight < kInFlight) {
            if (!client.Send(server, request)) break;
            ++inFlight;
            ++sent;
        }
        pollfd ready{client.fd(), POLLIN, 0};
        if (poll(&ready, 1, kLostAfterMs) <= 0) {
            inFlight = 0;  // what is still out was dropped
            continue;
        }
        ssize_t got;
        while ((got = recv(client.fd(), buffer.data(), buffer.size(), 0)) > 0) {
            load.replyBytes = static_cast<size_t>(got);
            ++answers;
            inFlight = std::max(0, inFlight - 1);
        }
    }
    load.answersPerSecond =
        static_cast<double>(answers) / std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return load;
}

struct Flood {
    uint64_t requests = 0;
    uint64_t requestBytes = 0;
    uint64_t replies = 0;
    uint64_t replyBytes = 0;
};

// Requests from one address as fast as they go for kFlood, answers read
// after it: everything the address was sent back.
Flood FloodFromOneAddress(uint16_t port, const std::vector<uint8_t>& request) {
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    const sockaddr_in server = Loopback(port);
    connect(fd, reinterpret_cast<const sockaddr*>(&server), sizeof server);
    Flood flood;
    const auto end = std::chrono::steady_clock::now() + kFlood;
    while (std::chrono::steady_clock::now() < end && flood.requests < kMaxRequests) {
        for (int i = 0; i < kBatch; ++i) {
            if (send(fd, request.data(), request.size(), 0) != static_cast<ssize_t>(request.size())) break;
            ++flood.requests;
            flood.requestBytes += request.size();
        }
    }
    std::array<uint8_t, 256> buffer{};
    pollfd ready{fd, POLLIN, 0};
    while (poll(&ready, 1, kQuietAfterFloodMs) > 0) {
        const ssize_t got = recv(fd, buffer.data(), buffer.size(), MSG_DONTWAIT);
        if (got <= 0) break;
        ++flood.replies;
        flood.replyBytes += static_cast<uint64_t>(got);
    }
    close(fd);
    return flood;
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}
}  // namespace

int main() {
    bench::PinToCore(kClientCore);
    std::vector<uint8_t> request;
    const uint8_t one[address_exchange::kRequestPayloadBytes] = {1, 0, 0, 0};  // what an engine asks with
    address_exchange::BuildDatagram(address_exchange::kTypePublicAddress, one, sizeof one, &request);

    std::vector<double> addrdRates, echoRates;
    size_t replyBytes = 0;
    for (int repetition = 0; repetition < kRepetitions; ++repetition) {
        const Server addrd = StartAddrd(kUnexhaustedBudget);
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
    const Server flooded = StartAddrd(nullptr);
    if (flooded.port == 0) {
        std::fprintf(stderr, "tavolin-addrd did not start\n");
        return 1;
    }
    const Flood flood = FloodFromOneAddress(flooded.port, request);
    StopServer(flooded);

    const double addrd = Median(addrdRates), echo = Median(echoRates);
    const double perReply = static_cast<double>(replyBytes) / static_cast<double>(request.size());
    const double amplification =
        flood.requestBytes ? static_cast<double>(flood.replyBytes) / static_cast<double>(flood.requestBytes) : 0;
    const bool met = flood.requestBytes > 0 && amplification <= 1;
    std::printf(
        "tavolin-addrd on one core, requests from %u addresses: %.0f answers/s; bare recvmmsg/sendmmsg "
        "echo: %.0f answers/s (medians of %d)\n",
        kSources, addrd, echo, kRepetitions);
    std::printf("answers/s relative to the bare echo:  %.3f\n", echo > 0 ? addrd / echo : 0);
    std::printf("one reply / one request:              %.3f (%zu / %zu bytes, fixed by the engines that ask)\n",
                perReply, replyBytes, request.size());
    std::printf("flood from one address for %lld s:     %llu requests (%llu bytes) got %llu replies (%llu bytes)\n",
                static_cast<long long>(kFlood.count()), static_cast<unsigned long long>(flood.requests),
                static_cast<unsigned long long>(flood.requestBytes), static_cast<unsigned long long>(flood.replies),
                static_cast<unsigned long long>(flood.replyBytes));
    std::printf("flood reply bytes / request bytes:    %.6f (goal <= 1: %s)\n", amplification, met ? "met" : "NOT MET");
    return met ? 0 : 2;
}

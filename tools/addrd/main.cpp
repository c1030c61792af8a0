// tavolin-addrd: the public-address server for Tavolin engines.
//   tavolin-addrd [--bind ADDR] [--port PORT]     (defaults 127.0.0.1, 3478)
// Port 0 takes any free port; the first line printed names the one bound.
// Prints one summary line per minute and stops on SIGINT or SIGTERM.
#include "transport/address_server.h"

#include <arpa/inet.h>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {
constexpr const char* kDefaultBindAddress = "127.0.0.1";
constexpr uint16_t kDefaultPort = 3478;
constexpr auto kSummaryPeriod = std::chrono::minutes(1);

CAddressServer* g_server = nullptr;
volatile std::sig_atomic_t g_stop = 0;

void OnStopSignal(int) {
    g_stop = 1;
    if (g_server) g_server->Wake();
}

int Usage(const char* program) {
    std::fprintf(stderr, "usage: %s [--bind ADDR] [--port PORT]\n", program);
    return 2;
}

bool ParsePort(const char* text, uint16_t* port) {
    char* end = nullptr;
    const long value = std::strtol(text, &end, 10);
    if (*text == '\0' || *end != '\0' || value < 0 || value > 65535) return false;
    *port = static_cast<uint16_t>(value);
    return true;
}
}  // namespace

int main(int argc, char** argv) {
    const char* bindText = kDefaultBindAddress;
    uint16_t port = kDefaultPort;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--bind") == 0 && i + 1 < argc) {
            bindText = argv[++i];
        } else if (std::strcmp(argv[i], "--port") == 0 && i + 1 < argc) {
            if (!ParsePort(argv[++i], &port)) return Usage(argv[0]);
        } else {
            return Usage(argv[0]);
        }
    }
    in_addr bindAddress{};
    if (inet_pton(AF_INET, bindText, &bindAddress) != 1) return Usage(argv[0]);

    CAddressServer server;
    if (!server.Open(ntohl(bindAddress.s_addr), port)) {
        std::fprintf(stderr, "tavolin-addrd: cannot bind %s:%u: %s\n", bindText, port, std::strerror(errno));
        return 1;
    }
    g_server = &server;
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    std::printf("tavolin-addrd: listening on %s:%u\n", bindText, server.Port());
    std::fflush(stdout);

    using Clock = std::chrono::steady_clock;
    auto nextSummary = Clock::now() + kSummaryPeriod;
    AddressServerCounters last;
    while (!g_stop) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(nextSummary - Clock::now());
        if (!server.PollStep(static_cast<int>(std::max<long long>(0, left.count())))) {
            std::fprintf(stderr, "tavolin-addrd: socket error: %s\n", std::strerror(errno));
            return 1;
        }
        if (Clock::now() < nextSummary) continue;
        const AddressServerCounters now = server.Counters();
        std::printf("tavolin-addrd: last minute: requests %llu, replies %llu, rejects %llu\n",
                    static_cast<unsigned long long>(now.requests - last.requests),
                    static_cast<unsigned long long>(now.replies - last.replies),
                    static_cast<unsigned long long>(now.rejects - last.rejects));
        std::fflush(stdout);
        last = now;
        nextSummary += kSummaryPeriod;
    }
    g_server = nullptr;
    std::printf("tavolin-addrd: stopped\n");
    return 0;
}

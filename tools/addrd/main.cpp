// tavolin-addrd: the public-address server for Tavolin engines. See --help.
#include "tools/common/command_line.h"
#include "transport/address/address_server.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

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

constexpr const char* kProgram = "tavolin-addrd";
constexpr const char* kHelp =
    "usage: tavolin-addrd [--bind ADDR] [--port PORT] [--answers-per-second N]\n"
    "\n"
    "The public-address server of Tavolin engines: answers each engine's request\n"
    "with the address and port its datagram came from, so that players behind\n"
    "address translators learn how the others can reach them.\n"
    "\n"
    "  --bind ADDR   IPv4 address of this machine to listen on (default 127.0.0.1;\n"
    "                0.0.0.0 for every interface)\n"
    "  --port PORT   UDP port (default 3478; 0 takes any free port)\n"
    "  --answers-per-second N\n"
    "                answers each source address may get per second, with up to\n"
    "                four seconds' worth at once (default 16, at most 1000000);\n"
    "                beyond that only the first request of each address and\n"
    "                port within 3 s is answered, so that requests with a\n"
    "                forged source can neither aim our answers at anyone nor\n"
    "                keep the engines behind that address from theirs\n"
    "  --help        this text\n"
    "  --version     the version\n"
    "\n"
    "The first line printed names the address and port bound; then one summary\n"
    "line per minute (requests, replies, rejects, limited). Stops on SIGINT or\n"
    "SIGTERM.\n";

std::string TakePort(const char* text, uint16_t* port) {
    char* end = nullptr;
    errno = 0;
    const long value = std::strtol(text, &end, 10);
    if (*text == '\0' || *end != '\0' || errno != 0 || value < 0 || value > 65535)
        return "not a port number (0..65535)";
    *port = static_cast<uint16_t>(value);
    return {};
}

std::string TakeAnswersPerSecond(const char* text, uint32_t* perSecond) {
    char* end = nullptr;
    errno = 0;
    const long value = std::strtol(text, &end, 10);
    if (*text == '\0' || *end != '\0' || errno != 0 || value < 1 || value > AnswerBudget::kMaxPerSecond)
        return "not a number of answers per second (1..1000000)";
    *perSecond = static_cast<uint32_t>(value);
    return {};
}

std::string TakeAddress(const char* text, in_addr* address) {
    return inet_pton(AF_INET, text, address) == 1 ? std::string() : "not an IPv4 address";
}
}  // namespace

int main(int argc, char** argv) {
    const char* bindText = kDefaultBindAddress;
    in_addr bindAddress{htonl(INADDR_LOOPBACK)};
    uint16_t port = kDefaultPort;
    uint32_t answersPerSecond = AnswerBudget::kDefaultPerSecond;
    const tools::ToolCommandLine commandLine{
        kProgram,
        kHelp,
        {{"bind", "ADDR",
          [&](const char* value) {
              bindText = value;
              return TakeAddress(value, &bindAddress);
          }},
         {"port", "PORT", [&](const char* value) { return TakePort(value, &port); }},
         {"answers-per-second", "N",
          [&](const char* value) { return TakeAnswersPerSecond(value, &answersPerSecond); }}}};
    if (const auto status = tools::ReadCommandLine(commandLine, argc, argv)) return *status;

    CAddressServer server;
    if (!server.Open(ntohl(bindAddress.s_addr), port, answersPerSecond)) {
        const int error = errno;
        // An address that is not this machine's is a bad value; anything else
        // (a port in use, no permission) is a failure to start.
        if (error == EADDRNOTAVAIL)
            return tools::CommandLineError(kProgram,
                                           std::string("--bind ") + bindText + ": not an address of this machine");
        std::fprintf(stderr, "%s: cannot bind %s:%u: %s\n", kProgram, bindText, port, std::strerror(error));
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
        std::printf("tavolin-addrd: last minute: requests %llu, replies %llu, rejects %llu, limited %llu\n",
                    static_cast<unsigned long long>(now.requests - last.requests),
                    static_cast<unsigned long long>(now.replies - last.replies),
                    static_cast<unsigned long long>(now.rejects - last.rejects),
                    static_cast<unsigned long long>(now.limited - last.limited));
        std::fflush(stdout);
        last = now;
        nextSummary += kSummaryPeriod;
    }
    g_server = nullptr;
    std::printf("tavolin-addrd: stopped\n");
    return 0;
}

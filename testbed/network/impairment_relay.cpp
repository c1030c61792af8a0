#include "testbed/network/impairment_relay.h"

#include "testbed/testbed_constants.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>

namespace room {
namespace {
constexpr int kPortPairTries = 64;
constexpr int kDatagramsPerSocketPerRound = 64;
constexpr size_t kMaximumHeld = 8192;  // beyond this a datagram counts as dropped
constexpr double kIdleWaitSeconds = 0.005;
constexpr size_t kDatagramBytes = 65536;

int BoundSocket(uint16_t port) {
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(kLoopbackAddress);
    address.sin_port = htons(port);
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

uint16_t PortOf(int fd) {
    sockaddr_in address{};
    socklen_t length = sizeof address;
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    return ntohs(address.sin_port);
}

// Two sockets on an even port and the one above it, as a session's pair.
bool BindPortPair(int* rtp, int* rtcp, uint16_t* port) {
    for (int attempt = 0; attempt < kPortPairTries; ++attempt) {
        const int first = BoundSocket(0);
        if (first < 0) return false;
        const uint16_t base = PortOf(first);
        if (base % 2 == 0 && base < 65535) {
            const int second = BoundSocket(static_cast<uint16_t>(base + 1));
            if (second >= 0) {
                *rtp = first;
                *rtcp = second;
                *port = base;
                return true;
            }
        }
        close(first);
    }
    return false;
}

uint64_t FlowSeed(uint64_t seed, int from, int to, RelayMedium medium, bool rtcp) {
    // A seed per flow, so a flow's fate does not hang on how the flows interleave.
    return seed * 1000003u + uint64_t(from) * 4096 + uint64_t(to) * 64 + (medium == RelayMedium::kVideo ? 2 : 0) +
           (rtcp ? 1 : 0);
}
}  // namespace

ImpairmentRelay::ImpairmentRelay(const ImpairmentSettings& settings) : settings_(settings) {
    if (settings.uplink.Active()) uplink_.emplace(settings.uplink);
}

ImpairmentRelay::~ImpairmentRelay() {
    Stop();
    for (int fd : sockets_) close(fd);
}

double ImpairmentRelay::Now() const {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
}

bool ImpairmentRelay::AddPath(RelayMedium medium, const RelayEndpoint& a, const RelayEndpoint& b, uint16_t* portForA,
                              uint16_t* portForB, std::string* error) {
    int sideA[2], sideB[2];
    if (!BindPortPair(&sideA[0], &sideA[1], portForA)) {
        *error = "the relay cannot bind a port pair on 127.0.0.1";
        return false;
    }
    if (!BindPortPair(&sideB[0], &sideB[1], portForB)) {
        close(sideA[0]);
        close(sideA[1]);
        *error = "the relay cannot bind a port pair on 127.0.0.1";
        return false;
    }
    std::lock_guard lock(mutex_);
    for (int channel = 0; channel < 2; ++channel) {
        const bool rtcp = channel == 1;
        sockets_.push_back(sideA[channel]);
        sockets_.push_back(sideB[channel]);
        const auto add = [&](const RelayEndpoint& from, const RelayEndpoint& to, int in, int out) {
            flows_.push_back(std::unique_ptr<Flow>(new Flow{
                from.userId,
                to.userId,
                medium,
                rtcp,
                in,
                out,
                to.address,
                static_cast<uint16_t>(to.port + channel),
                ImpairedFlow(settings_, FlowSeed(settings_.seed, from.userId, to.userId, medium, rtcp)),
                {},
                0,
                0}));
        };
        add(a, b, sideA[channel], sideB[channel]);
        add(b, a, sideB[channel], sideA[channel]);
    }
    if (!thread_.joinable() && !stop_) thread_ = std::thread(&ImpairmentRelay::Run, this);
    return true;
}

void ImpairmentRelay::Stop() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
}

void ImpairmentRelay::Run() {
    std::vector<pollfd> waits;
    while (!stop_) {
        double wait = kIdleWaitSeconds;
        {
            std::lock_guard lock(mutex_);
            waits.clear();
            for (const auto& flow : flows_) waits.push_back({flow->inSocket, POLLIN, 0});
            if (!held_.empty()) wait = std::clamp(held_.top().due - Now(), 0.0, kIdleWaitSeconds);
        }
        poll(waits.data(), waits.size(), static_cast<int>(std::ceil(wait * 1000)));
        std::lock_guard lock(mutex_);
        const double now = Now();
        for (size_t i = 0; i < waits.size(); ++i)
            if (waits[i].revents & POLLIN) ReceiveFrom(i, now);
        SendDue(Now());
    }
}

void ImpairmentRelay::ReceiveFrom(size_t flowIndex, double now) {
    Flow& flow = *flows_[flowIndex];
    std::vector<uint8_t> buffer(kDatagramBytes);
    for (int i = 0; i < kDatagramsPerSocketPerRound; ++i) {
        const ssize_t length = recv(flow.inSocket, buffer.data(), buffer.size(), 0);
        if (length < 0) return;
        ++flow.counts.received;
        CountSent(flow.from, now, static_cast<size_t>(length));
        if (flow.rtcp && settings_.dropFeedback && CarriesFeedback(buffer.data(), static_cast<size_t>(length))) {
            ++flow.counts.feedbackDropped;
            continue;
        }
        const uint64_t arrival = flow.arrivals++;
        double admitted = now;
        if (uplink_ && flow.from == settings_.uplink.player) {
            const std::optional<double> leaves = uplink_->Admit(now, static_cast<size_t>(length));
            if (!leaves) {
                ++flow.counts.dropped;
                ++flow.counts.uplinkDropped;
                continue;
            }
            admitted = *leaves;
        }
        const std::vector<double> departures = flow.impairment.Admit(admitted);
        if (departures.empty() || held_.size() + departures.size() > kMaximumHeld) {
            ++flow.counts.dropped;
            continue;
        }
        flow.counts.duplicated += departures.size() - 1;
        for (double due : departures)
            held_.push({due, heldOrder_++, flowIndex, arrival,
                        std::vector<uint8_t>(buffer.begin(), buffer.begin() + length)});
    }
}

void ImpairmentRelay::SendDue(double now) {
    while (!held_.empty() && held_.top().due <= now) {
        const Held& datagram = held_.top();
        Flow& flow = *flows_[datagram.flow];
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_addr.s_addr = htonl(flow.toAddress);
        to.sin_port = htons(flow.toPort);
        // A send the kernel refuses is a loss the relay made.
        if (sendto(flow.outSocket, datagram.bytes.data(), datagram.bytes.size(), 0, reinterpret_cast<sockaddr*>(&to),
                   sizeof to) < 0) {
            ++flow.counts.dropped;
        } else {
            ++flow.counts.forwarded;
            if (datagram.arrival + 1 < flow.latestSent) ++flow.counts.reordered;
            flow.latestSent = std::max(flow.latestSent, datagram.arrival + 1);
        }
        held_.pop();
    }
}

void ImpairmentRelay::CountSent(int player, double now, size_t bytes) {
    std::vector<uint64_t>& bins = sentBytes_[player];
    const auto second = static_cast<size_t>(now);
    if (bins.size() <= second) bins.resize(second + 1);
    bins[second] += bytes + kUdpOverheadBytes;
}

std::vector<PlayerSendRate> ImpairmentRelay::SendRates() const {
    std::lock_guard lock(mutex_);
    std::vector<PlayerSendRate> rates;
    for (const auto& [player, bins] : sentBytes_) rates.push_back({player, bins});
    return rates;
}

RelayCounts ImpairmentRelay::Counts(int from, int to, RelayMedium medium, bool rtcp) const {
    std::lock_guard lock(mutex_);
    for (const auto& flow : flows_)
        if (flow->from == from && flow->to == to && flow->medium == medium && flow->rtcp == rtcp) return flow->counts;
    return {};
}

std::vector<RelayFlowCounts> ImpairmentRelay::Flows() const {
    std::lock_guard lock(mutex_);
    std::vector<RelayFlowCounts> flows;
    for (const auto& flow : flows_) flows.push_back({flow->from, flow->to, flow->medium, flow->rtcp, flow->counts});
    return flows;
}

}  // namespace room

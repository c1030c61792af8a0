// A relay on 127.0.0.1 that stands between the players of a room: for each
// pair and medium it holds a socket pair (RTP, RTCP one port above) per
// player, which that player is told is the other's address. Datagrams are
// forwarded with the impairments of ImpairedFlow, decided per direction,
// medium and channel, and counted the same way. One thread serves all
// paths; each of its rounds is bounded, and it ends with Stop.
#pragma once

#include "testbed/network/impairment.h"

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <queue>
#include <string>
#include <thread>
#include <vector>

namespace room {

enum class RelayMedium { kAudio, kVideo };

struct RelayCounts {
    uint64_t received = 0;
    uint64_t forwarded = 0;  // datagrams sent on, copies included
    uint64_t dropped = 0;
    uint64_t duplicated = 0;       // extra copies sent
    uint64_t reordered = 0;        // sent after a datagram that arrived later
    uint64_t feedbackDropped = 0;  // RTCP feedback held back on purpose, not in `dropped`
    uint64_t uplinkDropped = 0;    // of `dropped`, at the tail of the shaped uplink
};

// What one player sent into the relay, every medium and channel, with the
// IPv4 and UDP headers: bytes per whole second since the relay started.
struct PlayerSendRate {
    int player = 0;
    std::vector<uint64_t> bytesPerSecond;
};

// What went through one direction of one medium's channel.
struct RelayFlowCounts {
    int from = 0;
    int to = 0;
    RelayMedium medium = RelayMedium::kVideo;
    bool rtcp = false;
    RelayCounts counts;
};

// Where a player's session listens (RTCP at port + 1).
struct RelayEndpoint {
    int userId = 0;
    uint32_t address = 0;  // host order
    uint16_t port = 0;
};

class ImpairmentRelay {
public:
    explicit ImpairmentRelay(const ImpairmentSettings& settings);
    ~ImpairmentRelay();
    ImpairmentRelay(const ImpairmentRelay&) = delete;
    ImpairmentRelay& operator=(const ImpairmentRelay&) = delete;

    // Relays one medium between a and b. *portForA is where a reaches b
    // (and b's datagrams come from), *portForB the other way. Starts the
    // thread on first use.
    bool AddPath(RelayMedium medium, const RelayEndpoint& a, const RelayEndpoint& b, uint16_t* portForA,
                 uint16_t* portForB, std::string* error);
    // Datagrams from `from` to `to` so far.
    RelayCounts Counts(int from, int to, RelayMedium medium, bool rtcp) const;
    // Every flow so far, in the order its path was added.
    std::vector<RelayFlowCounts> Flows() const;
    const ImpairmentSettings& Settings() const { return settings_; }
    // Every player's send rate so far, in id order.
    std::vector<PlayerSendRate> SendRates() const;
    // Ends the thread; datagrams still held are not sent.
    void Stop();

private:
    struct Flow {
        int from = 0, to = 0;
        RelayMedium medium = RelayMedium::kVideo;
        bool rtcp = false;
        int inSocket = -1, outSocket = -1;
        uint32_t toAddress = 0;
        uint16_t toPort = 0;
        ImpairedFlow impairment;
        RelayCounts counts;
        uint64_t arrivals = 0;
        uint64_t latestSent = 0;  // arrival number + 1 of the latest-arrived datagram sent
    };
    struct Held {
        double due = 0;
        uint64_t order = 0;
        size_t flow = 0;
        uint64_t arrival = 0;
        std::vector<uint8_t> bytes;
        bool operator>(const Held& other) const { return due != other.due ? due > other.due : order > other.order; }
    };

    void Run();
    void ReceiveFrom(size_t flowIndex, double now);
    void SendDue(double now);
    void CountSent(int player, double now, size_t bytes);
    double Now() const;

    const ImpairmentSettings settings_;
    mutable std::mutex mutex_;
    std::vector<std::unique_ptr<Flow>> flows_;                           // guarded by mutex_
    std::vector<int> sockets_;                                           // guarded by mutex_
    std::priority_queue<Held, std::vector<Held>, std::greater<>> held_;  // relay thread only
    uint64_t heldOrder_ = 0;
    std::optional<UplinkQueue> uplink_;               // relay thread only
    std::map<int, std::vector<uint64_t>> sentBytes_;  // guarded by mutex_
    std::atomic<bool> stop_{false};
    std::thread thread_;
    const std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
};

}  // namespace room

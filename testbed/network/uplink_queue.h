// One player's own egress as a home router shapes it: a rate-limited FIFO
// with a bounded byte backlog that drops at its tail, whose rate may drop
// and be lifted again during a run. Time in seconds from the relay's start.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>

namespace room {

struct UplinkSettings {
    int player = 0;  // 0: no player's uplink is limited
    double kbits = 0;
    double dropAtSeconds = -1;  // negative: never
    double dropToKbits = 0;
    double liftAtSeconds = -1;  // back to `kbits`; negative: never

    bool Active() const { return player > 0 && kbits > 0; }
    double KbitsAt(double seconds) const;
};

// IPv4 and UDP headers, which the link carries beside each datagram.
constexpr size_t kUdpOverheadBytes = 28;
// The queue holds this long a backlog at the rate in force, at least the
// floor's bytes (a couple of key-frame fragments at low rates).
constexpr double kUplinkBacklogSeconds = 0.3;
constexpr size_t kUplinkBacklogFloorBytes = 3000;

class UplinkQueue {
public:
    explicit UplinkQueue(const UplinkSettings& settings) : settings_(settings) {}
    // When a datagram of `bytes` arriving at `now` leaves the link; none
    // when the backlog is full.
    std::optional<double> Admit(double now, size_t bytes);
    uint64_t Dropped() const { return dropped_; }

private:
    struct Queued {
        double leaves;
        size_t bytes;
    };
    UplinkSettings settings_;
    std::deque<Queued> queued_;
    size_t backlogBytes_ = 0;
    double lastLeaves_ = 0;
    uint64_t dropped_ = 0;
};

}  // namespace room

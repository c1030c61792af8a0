// How long each peer's voice now waits on its way here beyond its usual.
// Voice leaves the moment it is coded and is never paced, so its wait is
// the sender's path queue alone; a video frame's wait also holds the
// sender's own pacer, which spreads a key frame over several frame
// intervals on a thin budget and would read as a queue on the path. The
// voice session's poll thread writes, the video session's reads.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <utility>
#include <vector>

namespace pacing {

// Voice timestamps stand still while a speaker is silent (voice only while
// talking): after such a gap the path is learned afresh.
constexpr double kVoiceGapSeconds = 0.25;
// A queue holds every packet back while it lasts; one packet late is the
// sender's or the receiver's jitter: the least wait of this long counts.
constexpr double kQueueSustainSeconds = 0.15;
// The usual wait: the least of the per-second medians of this long. A
// median, because a sender that sends a few frames at once (its first, or
// after its thread was busy) sends them early, not the path faster.
constexpr double kUsualWindowSeconds = 30;

class PathQueues {
public:
    void OnVoice(int userId, double arrival, uint32_t rtpTimestamp);
    // The least wait of the peer's voice over kQueueSustainSeconds beyond
    // its usual; none before a second of voice, or when its latest is older
    // than kQueueLifetimeSeconds.
    std::optional<double> QueueSeconds(int userId, double now) const;
    void Forget(int userId);

private:
    struct Path {
        double firstArrival = 0;
        double lastArrival = 0;
        uint32_t lastTimestamp = 0;
        int64_t unwrapped = 0;  // ticks since the first timestamp
        // Offsets of arrival against timestamp, seconds.
        std::deque<std::pair<double, double>> recent;  // (arrival, offset)
        std::vector<double> thisSecond;                // since secondStart
        double secondStart = 0;
        std::deque<std::pair<double, double>> medians;  // (second's start, median)
    };
    mutable std::mutex mutex_;
    std::map<int, Path> voice_;
};

}  // namespace pacing

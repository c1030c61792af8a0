#include "transport/pacing/path_queues.h"

#include "transport/pacing/arrival_delay.h"

#include <algorithm>

namespace pacing {
namespace {
constexpr double kVoiceTicksPerSecond = 8000;

double Median(std::vector<double> values) {
    std::nth_element(values.begin(), values.begin() + values.size() / 2, values.end());
    return values[values.size() / 2];
}
}  // namespace

void PathQueues::OnVoice(int userId, double arrival, uint32_t rtpTimestamp) {
    std::lock_guard lock(mutex_);
    auto found = voice_.find(userId);
    if (found == voice_.end() || arrival - found->second.lastArrival > kVoiceGapSeconds) {
        Path fresh;
        fresh.firstArrival = fresh.lastArrival = fresh.secondStart = arrival;
        fresh.lastTimestamp = rtpTimestamp;
        found = voice_.insert_or_assign(userId, std::move(fresh)).first;
    }
    Path& path = found->second;
    const auto step = static_cast<int32_t>(rtpTimestamp - path.lastTimestamp);
    if (step < 0) return;  // a late packet says nothing new
    path.unwrapped += step;
    path.lastTimestamp = rtpTimestamp;
    path.lastArrival = arrival;
    const double offset = (arrival - path.firstArrival) - path.unwrapped / kVoiceTicksPerSecond;
    path.recent.emplace_back(arrival, offset);
    while (path.recent.front().first < arrival - kQueueSustainSeconds) path.recent.pop_front();
    if (arrival - path.secondStart >= 1 && !path.thisSecond.empty()) {
        path.medians.emplace_back(path.secondStart, Median(path.thisSecond));
        path.thisSecond.clear();
        path.secondStart = arrival;
        while (path.medians.front().first < arrival - kUsualWindowSeconds) path.medians.pop_front();
    }
    path.thisSecond.push_back(offset);
}

std::optional<double> PathQueues::QueueSeconds(int userId, double now) const {
    std::lock_guard lock(mutex_);
    const auto found = voice_.find(userId);
    if (found == voice_.end()) return std::nullopt;
    const Path& path = found->second;
    if (path.medians.empty() || now - path.lastArrival > kQueueLifetimeSeconds) return std::nullopt;
    double usual = path.medians.front().second;
    for (const auto& [at, median] : path.medians) usual = std::min(usual, median);
    double least = path.recent.back().second;
    for (const auto& [at, offset] : path.recent) least = std::min(least, offset);
    return least - usual;
}

void PathQueues::Forget(int userId) {
    std::lock_guard lock(mutex_);
    voice_.erase(userId);
}

}  // namespace pacing

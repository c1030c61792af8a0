#include "testbed/measurement/hop_table.h"

#include "testbed/measurement/statistics.h"

#include <dlfcn.h>

#include <algorithm>
#include <array>
#include <map>
#include <tuple>

namespace room {
namespace {
constexpr double kNanosecondsPerMillisecond = 1e6;
constexpr int64_t kNanosecondsPerSecond = 1000000000;
constexpr size_t kTakeBatch = size_t{1} << 16;
constexpr uint32_t kSendingSide = 0;
constexpr double kMedian = 0.5;
constexpr double kP99 = 0.99;
constexpr size_t kSlowestShare = 100;  // the slowest hundredth

using Times = std::array<std::optional<int64_t>, kTavolinHopCount>;
using SenderKey = std::pair<uint32_t, uint32_t>;               // ssrc, timestamp
using ReceiverKey = std::tuple<uint32_t, uint32_t, uint32_t>;  // receiver, ssrc, timestamp

// Per-fragment hops keep all their times; the frame's hop is the first
// (sending) or the last before assembly (receiving).
struct FrameRecords {
    Times once;
    std::vector<std::pair<uint32_t, int64_t>> fragments;  // hop, time
};

bool PerFragment(uint32_t hop) {
    return hop == kTavolinHopSent || hop == kTavolinHopReceived || hop == kTavolinHopQueued ||
           hop == kTavolinHopDrained;
}

struct Interval {
    const char* name;
    TavolinHop from;
    TavolinHop to;
};

constexpr auto kLastSentHop = static_cast<TavolinHop>(kLastSent);
constexpr Interval kIntervals[] = {
    {"captured -> taken (ring, message 9161)", kTavolinHopCaptured, kTavolinHopTaken},
    {"taken -> coded (preview, encode)", kTavolinHopTaken, kTavolinHopCoded},
    {"coded -> first fragment sent", kTavolinHopCoded, kTavolinHopSent},
    {"first -> last fragment sent", kTavolinHopSent, kLastSentHop},
    {"last sent -> last received (socket)", kLastSentHop, kTavolinHopReceived},
    {"received -> queued (poll thread)", kTavolinHopReceived, kTavolinHopQueued},
    {"queued -> drained (message 6441)", kTavolinHopQueued, kTavolinHopDrained},
    {"drained -> assembled", kTavolinHopDrained, kTavolinHopAssembled},
    {"assembled -> decoded", kTavolinHopAssembled, kTavolinHopDecoded},
    {"decoded -> drawn (host's DrawFrame)", kTavolinHopDecoded, kTavolinHopDrawn},
    {"end to end: captured -> DrawFrame called", kTavolinHopCaptured, kTavolinHopDecoded},
    {"end to end: captured -> drawn", kTavolinHopCaptured, kTavolinHopDrawn},
};

std::optional<FrameTimes> Combine(const FrameRecords& sent, const FrameRecords& received) {
    FrameTimes times{};
    for (uint32_t hop : {kTavolinHopCaptured, kTavolinHopTaken, kTavolinHopCoded}) {
        if (!sent.once[hop]) return std::nullopt;
        times[hop] = *sent.once[hop];
    }
    for (uint32_t hop : {kTavolinHopAssembled, kTavolinHopDecoded, kTavolinHopDrawn}) {
        if (!received.once[hop]) return std::nullopt;
        times[hop] = *received.once[hop];
    }
    std::optional<int64_t> firstSent, lastSent;
    for (const auto& [hop, time] : sent.fragments) {
        firstSent = std::min(firstSent.value_or(time), time);
        lastSent = std::max(lastSent.value_or(time), time);
    }
    if (!firstSent) return std::nullopt;
    times[kTavolinHopSent] = *firstSent;
    times[kLastSent] = *lastSent;
    for (uint32_t hop : {kTavolinHopReceived, kTavolinHopQueued, kTavolinHopDrained}) {
        std::optional<int64_t> last;
        for (const auto& [fragmentHop, time] : received.fragments)
            if (fragmentHop == hop && time <= times[kTavolinHopAssembled]) last = std::max(last.value_or(time), time);
        if (!last) return std::nullopt;
        times[hop] = *last;
    }
    return times;
}
}  // namespace

bool HopTraceFunctions::Resolve(const std::string& path, std::string* error) {
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NOLOAD);
    if (!handle) {
        *error = "the library " + path + " is not loaded";
        return false;
    }
    setTrace = reinterpret_cast<decltype(setTrace)>(dlsym(handle, "TavolinSetHopTrace"));
    takeTrace = reinterpret_cast<decltype(takeTrace)>(dlsym(handle, "TavolinTakeHopTrace"));
    dlclose(handle);  // the reference NOLOAD took; the library stays
    if (!setTrace || !takeTrace) *error = "the library " + path + " has no hop trace";
    return setTrace && takeTrace;
}

std::vector<TavolinHopRecord> HopTraceFunctions::TakeAll() const {
    std::vector<TavolinHopRecord> records;
    for (;;) {
        const size_t had = records.size();
        records.resize(had + kTakeBatch);
        const size_t taken = takeTrace(records.data() + had, kTakeBatch);
        records.resize(had + taken);
        if (taken < kTakeBatch) return records;
    }
}

namespace {
std::vector<SecondOfRun> BySecond(const std::vector<FrameTimes>& frames) {
    if (frames.empty()) return {};
    int64_t first = frames.front()[kTavolinHopCaptured];
    for (const FrameTimes& times : frames) first = std::min(first, times[kTavolinHopCaptured]);
    std::map<int, std::vector<double>> latencies;
    for (const FrameTimes& times : frames)
        latencies[static_cast<int>((times[kTavolinHopCaptured] - first) / kNanosecondsPerSecond)].push_back(
            static_cast<double>(times[kTavolinHopDecoded] - times[kTavolinHopCaptured]) / kNanosecondsPerMillisecond);
    std::vector<SecondOfRun> seconds;
    for (const auto& [second, values] : latencies)
        seconds.push_back({second, values.size(), *Percentile(values, kMedian), *Percentile(values, kP99)});
    return seconds;
}
}  // namespace

TracedFrames TraceFrames(const std::vector<TavolinHopRecord>& records) {
    std::map<SenderKey, FrameRecords> sent;
    std::map<ReceiverKey, FrameRecords> received;
    for (const TavolinHopRecord& record : records) {
        if (record.hop >= kTavolinHopCount) continue;
        FrameRecords& frame = record.receiver == kSendingSide
                                  ? sent[{record.sender, record.timestamp}]
                                  : received[{record.receiver, record.sender, record.timestamp}];
        if (PerFragment(record.hop))
            frame.fragments.emplace_back(record.hop, record.nanoseconds);
        else if (!frame.once[record.hop])
            frame.once[record.hop] = record.nanoseconds;
    }
    TracedFrames traced;
    for (const auto& [key, frame] : received) {
        if (!frame.once[kTavolinHopDrawn]) continue;
        ++traced.drawn;
        const auto sender = sent.find({std::get<1>(key), std::get<2>(key)});
        if (sender == sent.end()) continue;
        if (const std::optional<FrameTimes> times = Combine(sender->second, frame)) traced.frames.push_back(*times);
    }
    return traced;
}

HopTable BuildHopTable(const std::vector<TavolinHopRecord>& records, uint64_t recordsDropped) {
    const TracedFrames traced = TraceFrames(records);
    HopTable table;
    table.recordsDropped = recordsDropped;
    table.framesDrawn = traced.drawn;
    table.framesTraced = traced.frames.size();
    const auto duration = [](const FrameTimes& times, const Interval& interval) {
        return static_cast<double>(times[interval.to] - times[interval.from]) / kNanosecondsPerMillisecond;
    };
    // The slowest hundredth of the frames end to end, at least one.
    std::vector<const FrameTimes*> slowest;
    for (const FrameTimes& times : traced.frames) slowest.push_back(&times);
    const size_t slowCount = std::min(slowest.size(), std::max<size_t>(1, slowest.size() / kSlowestShare));
    const Interval& endToEnd = kIntervals[std::size(kIntervals) - 1];
    std::partial_sort(slowest.begin(), slowest.begin() + static_cast<std::ptrdiff_t>(slowCount), slowest.end(),
                      [&](const FrameTimes* a, const FrameTimes* b) {
                          return duration(*a, endToEnd) > duration(*b, endToEnd);
                      });
    slowest.resize(slowCount);
    for (const Interval& interval : kIntervals) {
        std::vector<double> durations;
        for (const FrameTimes& times : traced.frames) durations.push_back(duration(times, interval));
        HopStep step{interval.name, Percentile(durations, kMedian), Percentile(durations, kP99), std::nullopt};
        double slowSum = 0;
        for (const FrameTimes* times : slowest) slowSum += duration(*times, interval);
        if (slowCount > 0) step.slowestMeanMs = slowSum / static_cast<double>(slowCount);
        table.steps.push_back(step);
    }
    table.seconds = BySecond(traced.frames);
    return table;
}

}  // namespace room

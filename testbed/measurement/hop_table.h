// The engine's per-hop time stamps of every video frame (trace/hop_record.h),
// read from the library after the room ran, turned into the time each hop
// took, capture to the remote view.
#pragma once

#include "trace/hop_record.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace room {

struct HopTraceFunctions {
    decltype(&TavolinSetHopTrace) setTrace = nullptr;
    decltype(&TavolinTakeHopTrace) takeTrace = nullptr;
    // From the library already loaded from `path`; false with `error` set.
    bool Resolve(const std::string& path, std::string* error);
    // Every record kept since tracing started.
    std::vector<TavolinHopRecord> TakeAll() const;
};

struct HopStep {
    std::string name;
    std::optional<double> medianMs;
    std::optional<double> p99Ms;
    // Mean over the slowest 1 % of frames end to end: where their time went.
    std::optional<double> slowestMeanMs;
};

// End to end (captured -> DrawFrame called) for the frames captured in one
// second of the run: whether latency comes from a backlog at the start or
// stays.
struct SecondOfRun {
    int second = 0;  // since the first frame traced was captured
    size_t frames = 0;
    double medianMs = 0;
    double p99Ms = 0;
};

struct HopTable {
    uint64_t framesDrawn = 0;   // remote pictures the trace saw drawn
    uint64_t framesTraced = 0;  // of those, with every hop from capture on
    uint64_t recordsDropped = 0;
    std::vector<HopStep> steps;  // hop by hop, then end to end
    std::vector<SecondOfRun> seconds;
};

// One remote picture traced from capture on: nanoseconds at each hop, by
// TavolinHop; per-fragment hops hold the first fragment sent and the last
// received, queued and drained before the frame was assembled; index
// kTavolinHopCount holds the last fragment sent.
using FrameTimes = std::array<int64_t, kTavolinHopCount + 1>;
constexpr size_t kLastSent = kTavolinHopCount;

struct TracedFrames {
    uint64_t drawn = 0;  // remote pictures drawn, traced or not
    std::vector<FrameTimes> frames;
};

// Frames drawn whose sender's stamps are missing (frames coded before tracing
// began) count as drawn, not traced. A fragment that came again after its
// frame was assembled does not move the frame's last arrival.
TracedFrames TraceFrames(const std::vector<TavolinHopRecord>& records);
HopTable BuildHopTable(const std::vector<TavolinHopRecord>& records, uint64_t recordsDropped);

}  // namespace room

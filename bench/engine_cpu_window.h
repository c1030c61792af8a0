// What the engines of a running lean room spend over a window of wall time:
// the CPU of the engine threads, read per thread from the kernel, and the
// frames coded and drawn meanwhile. Threads the media framework named are
// never the engine's, even when started during a Create.
#pragma once

#include "bench/lean_room.h"

#include <chrono>
#include <cstdint>

namespace bench {

struct EngineCpuWindow {
    double wallSeconds = 0;
    uint64_t encoded = 0;
    uint64_t decoded = 0;
    double engineSeconds = 0;   // the threads that called Create and the RTP poll threads they started
    double pumpSeconds = 0;     // of which the threads that called Create
    double codecSeconds = 0;    // of which the video library, coding and decoding (the engines' own count)
    uint64_t videoPackets = 0;  // video datagrams the engines took in
    double otherSeconds = 0;    // every other thread of the process (cameras, the benchmark)
};

EngineCpuWindow MeasureEngineCpu(const LeanRoom& room, std::chrono::steady_clock::duration window);

}  // namespace bench

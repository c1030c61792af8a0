#include "bench/engine_cpu_window.h"

#include "bench/thread_cpu.h"

#include <unistd.h>

#include <string>
#include <thread>

namespace bench {

EngineCpuWindow MeasureEngineCpu(const LeanRoom& room, std::chrono::steady_clock::duration window) {
    const std::set<pid_t> engineThreads = room.EngineThreads(), pumpThreads = room.PumpThreads();
    const auto cpuBefore = ReadThreadCpu();
    const uint64_t encodedBefore = room.Encoded(), decodedBefore = room.Decoded();
    const EngineTally tallyBefore = room.Tally();
    const auto start = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(window);
    const auto cpuAfter = ReadThreadCpu();
    const EngineTally tallyAfter = room.Tally();

    EngineCpuWindow spent;
    spent.encoded = room.Encoded() - encodedBefore;
    spent.decoded = room.Decoded() - decodedBefore;
    spent.codecSeconds = tallyAfter.codecSeconds - tallyBefore.codecSeconds;
    spent.videoPackets = tallyAfter.videoPacketsReceived - tallyBefore.videoPacketsReceived;
    spent.wallSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    // The media framework names its threads and reuses pooled ones: only
    // unnamed threads (named as the program) are the engine's.
    const std::string programName = cpuAfter.at(getpid()).name;
    for (const auto& [tid, cpu] : CpuBetween(cpuBefore, cpuAfter)) {
        const bool engine = engineThreads.count(tid) && cpu.name == programName;
        (engine ? spent.engineSeconds : spent.otherSeconds) += cpu.seconds;
        if (pumpThreads.count(tid)) spent.pumpSeconds += cpu.seconds;
    }
    return spent;
}

}  // namespace bench

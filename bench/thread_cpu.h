// CPU time of this process's threads, read from /proc/self/task: what the
// benchmarks use to give each thread's work to its owner (engine, camera,
// host) without any hook in the engine.
#pragma once

#include <sys/types.h>

#include <map>
#include <set>
#include <string>

namespace bench {

struct ThreadCpu {
    std::string name;        // the thread's comm
    double seconds = 0;      // user and system, to the nanosecond
    double userSeconds = 0;  // the split, to the clock tick (10 ms)
    double systemSeconds = 0;
};

// Every live thread of this process by id.
std::map<pid_t, ThreadCpu> ReadThreadCpu();
// The ids of the live threads of this process.
std::set<pid_t> ThreadIds();
// The calling thread's id.
pid_t CurrentThreadId();
// CPU seconds of the calling thread (CLOCK_THREAD_CPUTIME_ID).
double CurrentThreadCpuSeconds();

// CPU spent between two readings, per thread (threads gone in between count
// with what the first reading saw of them: nothing after).
std::map<pid_t, ThreadCpu> CpuBetween(const std::map<pid_t, ThreadCpu>& before,
                                      const std::map<pid_t, ThreadCpu>& after);
// The seconds of `spent` that went to `threads`.
double SecondsOf(const std::map<pid_t, ThreadCpu>& spent, const std::set<pid_t>& threads);

}  // namespace bench

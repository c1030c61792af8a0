#include "bench/thread_cpu.h"

#include <dirent.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <optional>
#include <sstream>

namespace bench {
namespace {
std::optional<ThreadCpu> ReadOne(pid_t tid) {
    std::ifstream file("/proc/self/task/" + std::to_string(tid) + "/stat");
    std::string line;
    if (!std::getline(file, line)) return std::nullopt;
    // "tid (comm) state ..." with utime and stime the 14th and 15th fields;
    // comm may hold spaces and parentheses, so read from the last ')'.
    const size_t open = line.find('('), close = line.rfind(')');
    if (open == std::string::npos || close == std::string::npos) return std::nullopt;
    ThreadCpu cpu;
    cpu.name = line.substr(open + 1, close - open - 1);
    std::istringstream rest(line.substr(close + 2));
    std::string field;
    for (int i = 3; i <= 13; ++i) rest >> field;
    unsigned long long user = 0, system = 0;
    rest >> user >> system;
    const double tick = static_cast<double>(sysconf(_SC_CLK_TCK));
    cpu.userSeconds = static_cast<double>(user) / tick;
    cpu.systemSeconds = static_cast<double>(system) / tick;
    // The thread's own CPU clock, precise where the tick counts are not; the
    // kernel's encoding of a thread clock id (per thread, scheduler time).
    const auto clock = static_cast<clockid_t>((~static_cast<unsigned>(tid) << 3) | 6);
    timespec spent{};
    if (clock_gettime(clock, &spent) != 0) return std::nullopt;
    cpu.seconds = static_cast<double>(spent.tv_sec) + static_cast<double>(spent.tv_nsec) * 1e-9;
    return cpu;
}
}  // namespace

std::set<pid_t> ThreadIds() {
    std::set<pid_t> ids;
    DIR* directory = opendir("/proc/self/task");
    if (!directory) return ids;
    while (const dirent* entry = readdir(directory))
        if (entry->d_name[0] != '.') ids.insert(static_cast<pid_t>(std::atoi(entry->d_name)));
    closedir(directory);
    return ids;
}

std::map<pid_t, ThreadCpu> ReadThreadCpu() {
    std::map<pid_t, ThreadCpu> threads;
    for (const pid_t tid : ThreadIds())
        if (auto cpu = ReadOne(tid)) threads[tid] = *cpu;
    return threads;
}

pid_t CurrentThreadId() { return static_cast<pid_t>(syscall(SYS_gettid)); }

double CurrentThreadCpuSeconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

std::map<pid_t, ThreadCpu> CpuBetween(const std::map<pid_t, ThreadCpu>& before,
                                      const std::map<pid_t, ThreadCpu>& after) {
    std::map<pid_t, ThreadCpu> spent;
    for (const auto& [tid, end] : after) {
        ThreadCpu delta = end;
        if (const auto start = before.find(tid); start != before.end()) {
            delta.userSeconds -= start->second.userSeconds;
            delta.systemSeconds -= start->second.systemSeconds;
            delta.seconds -= start->second.seconds;
        }
        spent[tid] = delta;
    }
    return spent;
}

double SecondsOf(const std::map<pid_t, ThreadCpu>& spent, const std::set<pid_t>& threads) {
    double seconds = 0;
    for (const auto& [tid, cpu] : spent)
        if (threads.count(tid)) seconds += cpu.seconds;
    return seconds;
}

}  // namespace bench

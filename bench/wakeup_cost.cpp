#include "bench/wakeup_cost.h"

#include "bench/pin_to_core.h"

#include <sys/eventfd.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdint>
#include <thread>

namespace bench {
namespace {
constexpr int kRoundTrips = 20000;  // two wake-ups each

double ProcessCpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto seconds = [](const timeval& t) {
        return static_cast<double>(t.tv_sec) + 1e-6 * static_cast<double>(t.tv_usec);
    };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// CPU of the whole process per wake-up while two threads pass a token; the
// process is otherwise idle between rooms, when this runs.
double PingPong(bool oneCore) {
    const int there = eventfd(0, EFD_CLOEXEC), back = eventfd(0, EFD_CLOEXEC);
    if (there < 0 || back < 0) return 0;
    const double before = ProcessCpuSeconds();
    const auto pass = [](int from, int to, bool first) {
        uint64_t token = 1;
        for (int i = 0; i < kRoundTrips; ++i) {
            if (!first && read(from, &token, sizeof token) != sizeof token) return;
            if (write(to, &token, sizeof token) != sizeof token) return;
            if (first && read(from, &token, sizeof token) != sizeof token) return;
        }
    };
    std::thread other([&] {
        PinToCore(0);
        pass(there, back, false);
    });
    std::thread first([&] {
        PinToCore(oneCore ? 0 : 1);
        pass(back, there, true);
    });
    first.join();
    other.join();
    const double spent = ProcessCpuSeconds() - before;
    close(there);
    close(back);
    return 1e6 * spent / (2.0 * kRoundTrips);
}
}  // namespace

WakeupCost MeasureWakeupCost() {
    WakeupCost cost;
    cost.acrossCoresCpuMicroseconds = PingPong(false);
    cost.oneCoreCpuMicroseconds = PingPong(true);
    return cost;
}

}  // namespace bench

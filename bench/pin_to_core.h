// Keeps the calling thread (or process, before it starts threads) on one core,
// so that benchmarks can set what runs beside what.
#pragma once

#include <sched.h>

namespace bench {

inline void PinToCore(int core) {
    cpu_set_t set;
    CPU_ZERO(&set);
    CPU_SET(core, &set);
    sched_setaffinity(0, sizeof set, &set);
}

}  // namespace bench

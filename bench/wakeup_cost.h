// What one thread waking another costs on this machine: two threads hand a
// token back and forth through eventfds, on two cores and on one. The
// engine's threads wake each other for every datagram (the sender's socket
// wakes a poll thread, which wakes the engine thread), so this is the unit
// its own cost above the codec is counted in.
#pragma once

namespace bench {

struct WakeupCost {
    double acrossCoresCpuMicroseconds = 0;  // CPU of both threads per wake-up
    double oneCoreCpuMicroseconds = 0;
};

WakeupCost MeasureWakeupCost();

}  // namespace bench

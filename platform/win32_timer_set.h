// The window timers of one thread, kept on a timerfd armed for the earliest
// due time so that a poll loop sees when a timer is due. Used only by the
// owning thread.
#pragma once

#include "platform/win32.h"
#include "platform/win32_unique_fd.h"

#include <chrono>
#include <cstdint>
#include <map>
#include <utility>

namespace win32 {

// The timer clock; steady_clock is CLOCK_MONOTONIC, the timerfd's clock.
using TimerClock = std::chrono::steady_clock;

struct TimerFiring {
    uint64_t window;
    UINT_PTR id;
};

class TimerSet {
public:
    TimerSet();

    // The timerfd: readable while a timer is due. -1 when it could not be made.
    int Fd() const { return fd_.Get(); }

    // Starts or replaces timer `id` of `window`; its first tick is one period from `now`.
    void Set(uint64_t window, UINT_PTR id, UINT elapseMs, TimerClock::time_point now);
    bool Kill(uint64_t window, UINT_PTR id);
    void KillWindow(uint64_t window);

    // Takes one timer due at `now` and moves it to its first period after
    // `now`: a timer is taken at most once per `now`, however many periods it
    // missed. False when none is due.
    bool TakeDue(TimerClock::time_point now, TimerFiring* firing);

private:
    struct Timer {
        TimerClock::duration period;
        TimerClock::time_point due;
    };
    using Key = std::pair<uint64_t, UINT_PTR>;

    // Arms the timerfd for the earliest due time (which also clears its
    // readiness), or disarms it when there are no timers.
    void Rearm();

    std::map<Key, Timer> timers_;
    UniqueFd fd_;
};

}  // namespace win32

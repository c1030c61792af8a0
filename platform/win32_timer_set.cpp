#include "platform/win32_timer_set.h"

#include <sys/timerfd.h>

#include <algorithm>

namespace win32 {

namespace {

timespec ToTimespec(TimerClock::time_point when) {
    const auto sinceStart = std::chrono::duration_cast<std::chrono::nanoseconds>(when.time_since_epoch());
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(sinceStart);
    timespec result{};
    result.tv_sec = seconds.count();
    result.tv_nsec = (sinceStart - seconds).count();
    return result;
}

}  // namespace

TimerSet::TimerSet() : fd_(timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC)) {}

void TimerSet::Set(uint64_t window, UINT_PTR id, UINT elapseMs, TimerClock::time_point now) {
    const auto period = std::chrono::milliseconds(std::max(elapseMs, kMinimumTimerElapseMs));
    timers_[{window, id}] = Timer{period, now + period};
    Rearm();
}

bool TimerSet::Kill(uint64_t window, UINT_PTR id) {
    const bool killed = timers_.erase({window, id}) > 0;
    if (killed) Rearm();
    return killed;
}

void TimerSet::KillWindow(uint64_t window) {
    const auto first = timers_.lower_bound({window, 0});
    auto last = first;
    while (last != timers_.end() && last->first.first == window) ++last;
    if (first == last) return;
    timers_.erase(first, last);
    Rearm();
}

bool TimerSet::TakeDue(TimerClock::time_point now, TimerFiring* firing) {
    for (auto& [key, timer] : timers_) {
        if (timer.due > now) continue;
        // Keep the phase: the next tick is the first multiple of the period after now.
        const auto missedPeriods = (now - timer.due) / timer.period;
        timer.due += timer.period * (missedPeriods + 1);
        *firing = TimerFiring{key.first, key.second};
        Rearm();
        return true;
    }
    return false;
}

void TimerSet::Rearm() {
    if (!fd_.Valid()) return;
    itimerspec setting{};  // all zero disarms
    if (!timers_.empty()) {
        const auto earliest = std::min_element(timers_.begin(), timers_.end(), [](const auto& a, const auto& b) {
            return a.second.due < b.second.due;
        });
        setting.it_value = ToTimespec(earliest->second.due);
    }
    timerfd_settime(fd_.Get(), TFD_TIMER_ABSTIME, &setting, nullptr);
}

}  // namespace win32

// Critical sections, the millisecond tick and Sleep.
#include "platform/win32.h"

#include <time.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace {

std::atomic<TickSource> tickSourceForTesting{nullptr};

// Milliseconds of the monotonic clock, cut to 32 bits so it wraps like the Win32 tick.
DWORD MonotonicTick() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    const uint64_t ms = static_cast<uint64_t>(now.tv_sec) * 1000 + static_cast<uint64_t>(now.tv_nsec) / 1000000;
    return static_cast<DWORD>(ms);
}

}  // namespace

DWORD GetTickCount() {
    const TickSource source = tickSourceForTesting.load();
    return source ? source() : MonotonicTick();
}

void SetTickSourceForTesting(TickSource source) { tickSourceForTesting.store(source); }

void Sleep(DWORD ms) {
    if (ms == 0) {
        std::this_thread::yield();
        return;
    }
    if (ms == INFINITE) {
        for (;;) std::this_thread::sleep_for(std::chrono::hours(24));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

void InitializeCriticalSection(CRITICAL_SECTION*) {}
void DeleteCriticalSection(CRITICAL_SECTION*) {}
void EnterCriticalSection(CRITICAL_SECTION* cs) { cs->mutex.lock(); }
void LeaveCriticalSection(CRITICAL_SECTION* cs) { cs->mutex.unlock(); }

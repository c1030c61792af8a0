// SetTimer and KillTimer: a window's timers live in its thread's queue and
// only that thread may change them.
#include "platform/win32.h"
#include "platform/win32_thread_queue.h"
#include "platform/win32_window_registry.h"

UINT_PTR SetTimer(HWND window, UINT_PTR id, UINT elapseMs, void* timerProc) {
    if (timerProc) return 0;
    win32::ThreadQueue* owner = win32::ThreadQueue::CurrentIfMade();
    if (!owner || !win32::IsOwnedBy(owner, window)) return 0;
    owner->Timers().Set(win32::HandleValue(window), id, elapseMs, win32::TimerClock::now());
    return 1;
}

BOOL KillTimer(HWND window, UINT_PTR id) {
    win32::ThreadQueue* owner = win32::ThreadQueue::CurrentIfMade();
    if (!owner) return 0;
    return owner->Timers().Kill(win32::HandleValue(window), id) ? 1 : 0;
}

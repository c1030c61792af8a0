// The host's pump: dispatches the calling thread's posted messages in posting
// order, then one WM_TIMER for each due timer. A pass takes only messages
// posted before it began, so a window procedure that posts to itself cannot
// keep a pass running forever.
#include "platform/win32.h"
#include "platform/win32_thread_queue.h"
#include "platform/win32_window_registry.h"

namespace {

int DispatchDue(win32::ThreadQueue& queue) {
    int dispatched = 0;
    const uint64_t end = queue.PostedEnd();
    win32::PostedMessage posted{};
    while (queue.TakePosted(end, &posted)) {
        if (win32::DeliverMessage(&queue, posted.window, posted.message, posted.wParam, posted.lParam)) {
            ++dispatched;
        }
    }
    const auto now = win32::TimerClock::now();
    win32::TimerFiring firing{};
    while (queue.Timers().TakeDue(now, &firing)) {
        if (win32::DeliverMessage(&queue, firing.window, WM_TIMER, firing.id, 0)) ++dispatched;
    }
    return dispatched;
}

}  // namespace

extern "C" __attribute__((visibility("default"))) int TavolinPumpMessages(uint32_t timeoutMs) {
    win32::ThreadQueue* queue = win32::ThreadQueue::Current();
    if (!queue) {
        // Without a queue no window can exist here; all that is left is to wait.
        Sleep(timeoutMs);
        return 0;
    }
    queue->WaitForWork(timeoutMs);
    return DispatchDue(*queue);
}

extern "C" __attribute__((visibility("default"))) int TavolinDispatchMessages(void) {
    win32::ThreadQueue* queue = win32::ThreadQueue::Current();
    return queue ? DispatchDue(*queue) : 0;
}

extern "C" __attribute__((visibility("default"))) int TavolinMessageFd(void) {
    win32::ThreadQueue* queue = win32::ThreadQueue::Current();
    return queue ? queue->Fd() : -1;
}

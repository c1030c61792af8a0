// The message queue of one thread: its posted messages, its window timers
// and the descriptor a poll loop waits on. Any thread may post; everything
// else is for the owning thread.
#pragma once

#include "platform/win32.h"
#include "platform/win32_posted_ring.h"
#include "platform/win32_timer_set.h"
#include "platform/win32_unique_fd.h"

#include <cstdint>
#include <memory>
#include <mutex>

namespace win32 {

class ThreadQueue : public std::enable_shared_from_this<ThreadQueue> {
public:
    // The calling thread's queue, made on first use and kept until the thread
    // ends; null when its descriptors cannot be made. Windows share ownership
    // (shared_from_this) so that a post never reaches a freed queue.
    static ThreadQueue* Current();
    // The calling thread's queue if it has one; makes none.
    static ThreadQueue* CurrentIfMade();

    ThreadQueue(const ThreadQueue&) = delete;
    ThreadQueue& operator=(const ThreadQueue&) = delete;

    // Any thread. False when `kPostedMessageQuota` messages are already waiting.
    bool Post(uint64_t window, UINT message, WPARAM wParam, LPARAM lParam);
    // Any thread. Forgets every waiting message of `window`.
    void DropWindow(uint64_t window);
    // Owning thread. Takes the oldest message of `window` with an id in [first, last].
    bool TakeMatching(uint64_t window, UINT first, UINT last, PostedMessage* message);

    // Owning thread. The sequence number the next post will get: a dispatch
    // pass takes only messages posted before it began.
    uint64_t PostedEnd();
    // Owning thread. Takes the oldest message if it was posted before `end`.
    bool TakePosted(uint64_t end, PostedMessage* message);

    // Owning thread.
    TimerSet& Timers() { return timers_; }

    // Readable while a posted message is waiting or a timer is due.
    int Fd() const { return epoll_.Get(); }
    // Owning thread. Returns when `Fd` is readable or after `timeoutMs`.
    void WaitForWork(DWORD timeoutMs) const;

private:
    ThreadQueue();
    bool Valid() const { return valid_; }
    // The eventfd is non-zero exactly while the ring is not empty; callers hold mutex_.
    void SignalPosted();
    void ClearPosted();

    std::mutex mutex_;
    PostedRing posted_{kPostedMessageQuota};
    uint64_t nextSequence_ = 0;
    UniqueFd postedEvent_;
    TimerSet timers_;
    UniqueFd epoll_;
    bool valid_ = false;
};

}  // namespace win32

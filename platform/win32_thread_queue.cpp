#include "platform/win32_thread_queue.h"

#include "platform/win32_window_registry.h"

#include <sys/epoll.h>
#include <sys/eventfd.h>

#include <climits>

namespace win32 {

namespace {

// Holds the calling thread's queue; when the thread ends its windows go
// with it, and the queue's descriptors close once no window refers to it.
struct CurrentThreadQueue {
    std::shared_ptr<ThreadQueue> queue;
    ~CurrentThreadQueue() {
        if (queue) DestroyWindowsOwnedBy(queue.get());
    }
};
thread_local CurrentThreadQueue current;

bool Watch(int epoll, int fd) {
    epoll_event event{};
    event.events = EPOLLIN;
    event.data.fd = fd;
    return epoll_ctl(epoll, EPOLL_CTL_ADD, fd, &event) == 0;
}

int EpollTimeout(DWORD timeoutMs) {
    if (timeoutMs == INFINITE) return -1;
    return timeoutMs > static_cast<DWORD>(INT_MAX) ? INT_MAX : static_cast<int>(timeoutMs);
}

}  // namespace

ThreadQueue* ThreadQueue::Current() {
    if (!current.queue) {
        std::shared_ptr<ThreadQueue> made(new ThreadQueue());
        if (made->Valid()) current.queue = std::move(made);
    }
    return current.queue.get();
}

ThreadQueue* ThreadQueue::CurrentIfMade() { return current.queue.get(); }

ThreadQueue::ThreadQueue()
    : postedEvent_(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)), epoll_(epoll_create1(EPOLL_CLOEXEC)) {
    valid_ = postedEvent_.Valid() && timers_.Fd() >= 0 && epoll_.Valid() && Watch(epoll_.Get(), postedEvent_.Get()) &&
             Watch(epoll_.Get(), timers_.Fd());
}

bool ThreadQueue::Post(uint64_t window, UINT message, WPARAM wParam, LPARAM lParam) {
    std::lock_guard lock(mutex_);
    const bool wasEmpty = posted_.Size() == 0;
    if (!posted_.Push(PostedMessage{window, nextSequence_, message, wParam, lParam})) return false;
    ++nextSequence_;
    if (wasEmpty) SignalPosted();
    return true;
}

void ThreadQueue::DropWindow(uint64_t window) {
    std::lock_guard lock(mutex_);
    if (posted_.RemoveWindow(window) > 0 && posted_.Size() == 0) ClearPosted();
}

bool ThreadQueue::TakeMatching(uint64_t window, UINT first, UINT last, PostedMessage* message) {
    std::lock_guard lock(mutex_);
    if (!posted_.RemoveFirst(window, first, last, message)) return false;
    if (posted_.Size() == 0) ClearPosted();
    return true;
}

uint64_t ThreadQueue::PostedEnd() {
    std::lock_guard lock(mutex_);
    return nextSequence_;
}

bool ThreadQueue::TakePosted(uint64_t end, PostedMessage* message) {
    std::lock_guard lock(mutex_);
    const PostedMessage* oldest = posted_.Front();
    if (!oldest || oldest->sequence >= end) return false;
    *message = *oldest;
    posted_.PopFront();
    if (posted_.Size() == 0) ClearPosted();
    return true;
}

void ThreadQueue::WaitForWork(DWORD timeoutMs) const {
    epoll_event event{};
    epoll_wait(epoll_.Get(), &event, 1, EpollTimeout(timeoutMs));
}

void ThreadQueue::SignalPosted() {
    const uint64_t one = 1;
    // Cannot fail: the counter is zero whenever this runs.
    [[maybe_unused]] const ssize_t written = write(postedEvent_.Get(), &one, sizeof one);
}

void ThreadQueue::ClearPosted() {
    uint64_t count = 0;
    [[maybe_unused]] const ssize_t read = ::read(postedEvent_.Get(), &count, sizeof count);
}

}  // namespace win32

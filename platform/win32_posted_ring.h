// First-in, first-out store of one thread's posted messages. The slots grow
// by doubling up to the quota and are then reused, so a warm queue allocates
// nothing per message. Not synchronised: the owning queue holds the lock.
#pragma once

#include "platform/win32.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace win32 {

struct PostedMessage {
    uint64_t window;    // handle value; handles are never reused
    uint64_t sequence;  // posting order, so a dispatch pass can stop at what was there when it began
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
};

class PostedRing {
public:
    explicit PostedRing(size_t limit) : limit_(limit) {}

    size_t Size() const { return size_; }
    bool Full() const { return size_ >= limit_; }

    // False when the ring already holds `limit` messages.
    bool Push(const PostedMessage& message);
    // The oldest message, or null when empty.
    const PostedMessage* Front() const { return size_ ? &slots_[head_] : nullptr; }
    void PopFront();
    // Removes every message of `window`, keeping the others in order.
    // Returns how many were removed.
    size_t RemoveWindow(uint64_t window);
    // Removes the oldest message of `window` whose id lies in [first, last],
    // keeping the others in order. False when there is none.
    bool RemoveFirst(uint64_t window, UINT first, UINT last, PostedMessage* removed);

private:
    size_t Slot(size_t position) const { return (head_ + position) % slots_.size(); }
    void Grow();

    std::vector<PostedMessage> slots_;
    size_t head_ = 0;
    size_t size_ = 0;
    size_t limit_;
};

}  // namespace win32

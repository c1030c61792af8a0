#include "platform/win32_posted_ring.h"

#include <algorithm>

namespace win32 {

namespace {
constexpr size_t kInitialSlots = 64;
}

bool PostedRing::Push(const PostedMessage& message) {
    if (Full()) return false;
    if (size_ == slots_.size()) Grow();
    slots_[Slot(size_)] = message;
    ++size_;
    return true;
}

void PostedRing::PopFront() {
    if (size_ == 0) return;
    head_ = (head_ + 1) % slots_.size();
    --size_;
}

size_t PostedRing::RemoveWindow(uint64_t window) {
    size_t kept = 0;
    for (size_t i = 0; i < size_; ++i) {
        const PostedMessage& message = slots_[Slot(i)];
        if (message.window == window) continue;
        if (kept != i) slots_[Slot(kept)] = message;
        ++kept;
    }
    const size_t removed = size_ - kept;
    size_ = kept;
    return removed;
}

bool PostedRing::RemoveFirst(uint64_t window, UINT first, UINT last, PostedMessage* removed) {
    for (size_t i = 0; i < size_; ++i) {
        const PostedMessage& message = slots_[Slot(i)];
        if (message.window != window || message.message < first || message.message > last) continue;
        *removed = message;
        for (size_t j = i + 1; j < size_; ++j) slots_[Slot(j - 1)] = slots_[Slot(j)];
        --size_;
        return true;
    }
    return false;
}

void PostedRing::Grow() {
    const size_t capacity = std::min(limit_, std::max(kInitialSlots, slots_.size() * 2));
    std::vector<PostedMessage> grown(capacity);
    for (size_t i = 0; i < size_; ++i) grown[i] = slots_[Slot(i)];
    slots_.swap(grown);
    head_ = 0;
}

}  // namespace win32

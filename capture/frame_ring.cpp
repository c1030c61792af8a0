#include "capture/frame_ring.h"

#include "trace/hop_trace.h"

#include <cstring>
#include <new>

FrameRing::FrameRing() { InitializeCriticalSection(&lock_); }

FrameRing::~FrameRing() { DeleteCriticalSection(&lock_); }

bool FrameRing::Allocate() {
    if (!slots_) slots_.reset(new (std::nothrow) FrameSlot[kRingSlots]());
    if (!staging_) staging_.reset(new (std::nothrow) FrameSlot());
    if (!slots_ || !staging_) return false;
    for (int slot = 0; slot < kRingSlots; ++slot) slots_[slot].length = 0;
    read_ = write_ = count_ = 0;
    return true;
}

void FrameRing::Free() {
    slots_.reset();
    staging_.reset();
}

void FrameRing::Clear() {
    EnterCriticalSection(&lock_);
    read_ = write_ = count_ = 0;
    LeaveCriticalSection(&lock_);
}

// Under the lock.
void FrameRing::Advance() {
    if (++count_ > kRingSlots) {
        read_ = (read_ + 1) % kRingSlots;
        count_ = kRingSlots;
    }
    write_ = (write_ + 1) % kRingSlots;
}

uint8_t* FrameRing::TakeOldest(uint32_t* length) {
    if (!slots_) return nullptr;
    EnterCriticalSection(&lock_);
    if (count_ < 1) {
        LeaveCriticalSection(&lock_);
        return nullptr;
    }
    const FrameSlot& oldest = slots_[read_];
    TAVOLIN_HOP_TRACE(FrameTaken(oldest.data));
    staging_->length = oldest.length;
    std::memcpy(staging_->data, oldest.data, oldest.length);
    if (length) *length = oldest.length;
    read_ = (read_ + 1) % kRingSlots;
    --count_;
    LeaveCriticalSection(&lock_);
    return staging_->data;
}

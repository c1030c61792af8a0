// The last four captured frames: the streaming thread stores frames, the
// window thread takes the oldest one out. When the ring is full the newest
// frame takes the oldest one's slot.
#pragma once

#include "capture/capture_constants.h"
#include "platform/win32.h"

#include <cstdint>
#include <memory>

// One frame of the ring: the bytes held, then room for the largest frame.
struct FrameSlot {
    uint32_t length;
    uint8_t data[kFrameSlotBytes];
};

class FrameRing {
public:
    FrameRing();
    ~FrameRing();
    FrameRing(const FrameRing&) = delete;
    FrameRing& operator=(const FrameRing&) = delete;

    // Allocates the slots once and empties the ring; false when out of memory.
    bool Allocate();
    void Free();
    bool IsAllocated() const { return slots_ != nullptr; }
    // Drops every frame held.
    void Clear();

    // Streaming thread: `fill(data)` writes one frame into the next slot and
    // returns its length, at most kFrameSlotBytes.
    template <class Fill>
    void Store(Fill fill) {
        EnterCriticalSection(&lock_);
        FrameSlot& slot = slots_[write_];
        slot.length = fill(slot.data);
        Advance();
        LeaveCriticalSection(&lock_);
    }

    // Window thread: a copy of the oldest frame, valid until the next call,
    // or null when the ring is empty.
    uint8_t* TakeOldest(uint32_t* length);

private:
    void Advance();

    std::unique_ptr<FrameSlot[]> slots_;
    std::unique_ptr<FrameSlot> staging_;
    int32_t read_ = 0;
    int32_t write_ = 0;
    int32_t count_ = 0;
    CRITICAL_SECTION lock_;
};

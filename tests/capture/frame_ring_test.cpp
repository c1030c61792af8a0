// The frame ring on its own: oldest first, the newest overwrites the oldest
// when full, and a taken frame is a copy that later stores cannot touch.
#include "capture/frame_ring.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

void StoreFrame(FrameRing& ring, uint8_t value, uint32_t length) {
    ring.Store([&](uint8_t* slot) {
        std::memset(slot, value, length);
        return length;
    });
}

TEST(FrameRing, KeepsTheNewestFourAndHandsOutCopiesOldestFirst) {
    FrameRing ring;
    uint32_t length = 0;
    EXPECT_EQ(ring.TakeOldest(&length), nullptr) << "nothing allocated yet";
    ASSERT_TRUE(ring.Allocate());
    EXPECT_EQ(ring.TakeOldest(&length), nullptr) << "empty";

    for (uint8_t frame = 1; frame <= kRingSlots + 1; ++frame) StoreFrame(ring, frame, 100u + frame);
    const uint8_t* taken = ring.TakeOldest(&length);
    ASSERT_NE(taken, nullptr);
    EXPECT_EQ(taken[0], 2) << "the first frame was overwritten";
    EXPECT_EQ(length, 102u);

    StoreFrame(ring, 9, 50);  // lands in the slot just emptied, not in the copy
    EXPECT_EQ(taken[101], 2);
    for (uint8_t expected : {3, 4, 5, 9}) {
        taken = ring.TakeOldest(&length);
        ASSERT_NE(taken, nullptr);
        EXPECT_EQ(taken[0], expected);
    }
    EXPECT_EQ(ring.TakeOldest(&length), nullptr);

    StoreFrame(ring, 6, 10);
    ring.Clear();
    EXPECT_EQ(ring.TakeOldest(&length), nullptr) << "cleared";
    StoreFrame(ring, 7, 10);
    ASSERT_TRUE(ring.Allocate()) << "allocating again empties the ring";
    EXPECT_EQ(ring.TakeOldest(&length), nullptr);
    ring.Free();
    EXPECT_FALSE(ring.IsAllocated());
}

}  // namespace

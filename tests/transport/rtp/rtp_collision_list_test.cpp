// The collision list stays bounded under senders from many addresses and
// forgets the least recently seen first.
#include "transport/rtp/rtp_collision_list.h"
#include "transport/rtp/rtp_defaults.h"

#include <gtest/gtest.h>

namespace {

constexpr uint32_t kSender = 0x0A000001;
constexpr int kFloodAddresses = 200000;

rtp::RTPIPv4Address Nth(int n) { return {kSender + static_cast<uint32_t>(n >> 16), static_cast<uint16_t>(n)}; }

TEST(CollisionList, ManySendersKeepTheMostRecentWithinTheBound) {
    rtp::RTPCollisionList list;
    list.Add(Nth(0), true, 0);
    for (int n = 1; n < kFloodAddresses; ++n) {
        list.Add(Nth(n), true, n);
        if (n % 512 == 0) list.Add(Nth(0), true, n);  // seen again now and then
    }
    EXPECT_EQ(list.GetSize(), rtp::kMaximumCollisionEntries);
    EXPECT_TRUE(list.Contains(Nth(0), true));
    EXPECT_TRUE(list.Contains(Nth(kFloodAddresses - 1), true));
    EXPECT_FALSE(list.Contains(Nth(1), true));
    EXPECT_FALSE(list.Contains(Nth(kFloodAddresses - 1), false));  // RTCP is listed apart
}

TEST(CollisionList, EntriesExpireByTheirLastSighting) {
    rtp::RTPCollisionList list;
    list.Add(Nth(1), true, 10);
    list.Add(Nth(2), false, 11);
    list.Add(Nth(1), true, 20);
    list.Expire(25, 10);
    EXPECT_TRUE(list.Contains(Nth(1), true));
    EXPECT_FALSE(list.Contains(Nth(2), false));
    list.Expire(31, 10);
    EXPECT_EQ(list.GetSize(), 0u);
}

}  // namespace

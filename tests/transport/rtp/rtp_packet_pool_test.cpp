// The packet pool after a burst of large datagrams: every packet comes back
// and the large buffers do not stay.
#include "tests/transport/rtp/rtp_test_support.h"
#include "transport/rtp/rtp_defaults.h"
#include "transport/rtp/rtp_packet_pool.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

TEST(PacketPool, LargeBuffersAreGivenBackWithTheirPackets) {
    constexpr int kBurst = 100;
    const auto large = rtp_testing::RtpDatagram(1, 1, 0, std::string(60000, 'x'));
    const auto voice = rtp_testing::RtpDatagram(1, 2, 0, std::string(51, 'v'));
    rtp::RTPPacketPool pool;
    std::vector<rtp::RTPPacket*> held;
    for (int i = 0; i < kBurst; ++i) {
        held.push_back(pool.Acquire());
        ASSERT_TRUE(held.back()->Parse(large.data(), large.size(), 0));
    }
    EXPECT_GE(pool.GetBufferBytes(), kBurst * large.size());
    for (rtp::RTPPacket* packet : held) EXPECT_TRUE(pool.Release(packet));
    EXPECT_EQ(pool.GetInUse(), 0u);
    EXPECT_EQ(pool.GetBufferBytes(), 0u);

    // Small packets keep their buffers: steady reception allocates nothing.
    rtp::RTPPacket* packet = pool.Acquire();
    ASSERT_TRUE(packet->Parse(voice.data(), voice.size(), 0));
    EXPECT_TRUE(pool.Release(packet));
    EXPECT_GE(pool.GetBufferBytes(), voice.size());
    EXPECT_LE(pool.GetBufferBytes(), rtp::kLargestPooledBufferBytes);
}

}  // namespace

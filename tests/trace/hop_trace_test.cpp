// The trace's bookkeeping on one thread: what is kept while it is on, under
// which key, and that nothing is kept while it is off.
#include "trace/hop_trace.h"

#include <gtest/gtest.h>

#include <vector>

namespace {
constexpr uint32_t kSsrc = 0xABCD;
constexpr uint32_t kTimestamp = 6000;
constexpr uint32_t kReceiver = 12000;

std::vector<TavolinHopRecord> TakeAll() {
    std::vector<TavolinHopRecord> records(64);
    records.resize(TavolinTakeHopTrace(records.data(), records.size()));
    return records;
}

std::vector<uint32_t> Hops(const std::vector<TavolinHopRecord>& records) {
    std::vector<uint32_t> hops;
    for (const TavolinHopRecord& record : records) hops.push_back(record.hop);
    return hops;
}

class HopTraceTest : public testing::Test {
protected:
    void SetUp() override { TavolinSetHopTrace(1); }
    void TearDown() override { TavolinSetHopTrace(0); }
    int slot_ = 0;
};

TEST_F(HopTraceTest, ASentFrameIsKeyedByItsFirstFragmentInOrder) {
    TAVOLIN_HOP_TRACE(PacketSent(kSsrc, kTimestamp - 6000));  // a greeting between frames: no hop
    TAVOLIN_HOP_TRACE(FrameStored(&slot_));
    TAVOLIN_HOP_TRACE(FrameTaken(&slot_));
    TAVOLIN_HOP_TRACE(FrameCoded());
    TAVOLIN_HOP_TRACE(PacketSent(kSsrc, kTimestamp));
    TAVOLIN_HOP_TRACE(PacketSent(kSsrc, kTimestamp));
    TAVOLIN_HOP_TRACE(FrameSent());
    TAVOLIN_HOP_TRACE(PacketSent(kSsrc, kTimestamp));  // after the frame: no hop

    const std::vector<TavolinHopRecord> records = TakeAll();
    EXPECT_EQ(Hops(records), (std::vector<uint32_t>{kTavolinHopCaptured, kTavolinHopTaken, kTavolinHopCoded,
                                                    kTavolinHopSent, kTavolinHopSent}));
    for (size_t i = 0; i < records.size(); ++i) {
        EXPECT_EQ(records[i].receiver, 0u);
        EXPECT_EQ(records[i].sender, kSsrc);
        EXPECT_EQ(records[i].timestamp, kTimestamp);
        if (i > 0) {
            EXPECT_LE(records[i - 1].nanoseconds, records[i].nanoseconds);
        }
    }
    EXPECT_TRUE(TakeAll().empty()) << "taken records are gone";
}

TEST_F(HopTraceTest, AFrameTakenFromAnotherSlotHasNoCaptureTime) {
    int otherSlot = 0;
    TAVOLIN_HOP_TRACE(FrameStored(&otherSlot));
    TAVOLIN_HOP_TRACE(FrameTaken(&slot_));
    TAVOLIN_HOP_TRACE(FrameCoded());
    TAVOLIN_HOP_TRACE(PacketSent(kSsrc, kTimestamp));
    TAVOLIN_HOP_TRACE(FrameSent());
    EXPECT_EQ(Hops(TakeAll()), (std::vector<uint32_t>{kTavolinHopTaken, kTavolinHopCoded, kTavolinHopSent}));
}

TEST_F(HopTraceTest, ReceivedFrameStepsFollowTheLastFragmentDrained) {
    TAVOLIN_HOP_TRACE(PacketQueued(kReceiver, kSsrc, kTimestamp, 0.002));
    TAVOLIN_HOP_TRACE(PacketDrained(kReceiver, kSsrc, kTimestamp));
    TAVOLIN_HOP_TRACE(FrameStep(kTavolinHopAssembled));
    TAVOLIN_HOP_TRACE(FrameStep(kTavolinHopDecoded));
    TAVOLIN_HOP_TRACE(FrameStep(kTavolinHopDrawn));

    const std::vector<TavolinHopRecord> records = TakeAll();
    ASSERT_EQ(Hops(records), (std::vector<uint32_t>{kTavolinHopReceived, kTavolinHopQueued, kTavolinHopDrained,
                                                    kTavolinHopAssembled, kTavolinHopDecoded, kTavolinHopDrawn}));
    for (const TavolinHopRecord& record : records) {
        EXPECT_EQ(record.receiver, kReceiver);
        EXPECT_EQ(record.sender, kSsrc);
        EXPECT_EQ(record.timestamp, kTimestamp);
    }
    EXPECT_EQ(records[1].nanoseconds - records[0].nanoseconds, 2000000) << "received 2 ms before it was queued";
}

TEST_F(HopTraceTest, ANullBufferTakesNothing) {
    TAVOLIN_HOP_TRACE(PacketDrained(kReceiver, kSsrc, kTimestamp));
    EXPECT_EQ(TavolinTakeHopTrace(nullptr, 8), 0u);
    EXPECT_EQ(Hops(TakeAll()), (std::vector<uint32_t>{kTavolinHopDrained})) << "the record stays for a real buffer";
}

TEST(HopTraceOff, KeepsNothingAndStartingAgainEmptiesTheRecord) {
    TavolinSetHopTrace(1);
    TAVOLIN_HOP_TRACE(PacketDrained(kReceiver, kSsrc, kTimestamp));
    TavolinSetHopTrace(0);
    int slot = 0;
    TAVOLIN_HOP_TRACE(FrameStored(&slot));
    TAVOLIN_HOP_TRACE(FrameTaken(&slot));
    TAVOLIN_HOP_TRACE(FrameCoded());
    TAVOLIN_HOP_TRACE(PacketSent(kSsrc, kTimestamp));
    TAVOLIN_HOP_TRACE(PacketDrained(kReceiver, kSsrc, kTimestamp));
    TAVOLIN_HOP_TRACE(FrameStep(kTavolinHopDrawn));
    EXPECT_EQ(Hops(TakeAll()), (std::vector<uint32_t>{kTavolinHopDrained})) << "only what came while on";

    TavolinSetHopTrace(1);
    TAVOLIN_HOP_TRACE(PacketDrained(kReceiver, kSsrc, kTimestamp));
    TavolinSetHopTrace(1);
    EXPECT_TRUE(TakeAll().empty());
    TavolinSetHopTrace(0);
}

}  // namespace

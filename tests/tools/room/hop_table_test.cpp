// From the engine's hop records to each frame's time at every hop and the
// table of hop times.
#include "testbed/measurement/hop_table.h"
#include "tools/room/hop_report.h"

#include <gtest/gtest.h>

namespace {
constexpr uint32_t kSsrc = 0x1234;
constexpr uint32_t kReceiver = 12000;
constexpr int64_t kMs = 1000000;

TavolinHopRecord Sent(TavolinHop hop, uint32_t timestamp, int64_t ms) { return {ms * kMs, 0, kSsrc, timestamp, hop}; }
TavolinHopRecord Received(TavolinHop hop, uint32_t timestamp, int64_t ms) {
    return {ms * kMs, kReceiver, kSsrc, timestamp, hop};
}

// A frame of two fragments, every hop 1 ms after the last, from `start`.
std::vector<TavolinHopRecord> Frame(uint32_t timestamp, int64_t start) {
    return {Sent(kTavolinHopCaptured, timestamp, start),         Sent(kTavolinHopTaken, timestamp, start + 1),
            Sent(kTavolinHopCoded, timestamp, start + 2),        Sent(kTavolinHopSent, timestamp, start + 3),
            Sent(kTavolinHopSent, timestamp, start + 4),         Received(kTavolinHopReceived, timestamp, start + 4),
            Received(kTavolinHopQueued, timestamp, start + 4),   Received(kTavolinHopDrained, timestamp, start + 4),
            Received(kTavolinHopReceived, timestamp, start + 5), Received(kTavolinHopQueued, timestamp, start + 6),
            Received(kTavolinHopDrained, timestamp, start + 7),  Received(kTavolinHopAssembled, timestamp, start + 8),
            Received(kTavolinHopDecoded, timestamp, start + 9),  Received(kTavolinHopDrawn, timestamp, start + 10)};
}

TEST(HopTable, EachFrameHasItsFirstSendAndLastArrivalsBeforeAssembly) {
    std::vector<TavolinHopRecord> records = Frame(6000, 100);
    records.push_back(Received(kTavolinHopReceived, 6000, 200));  // a copy after assembly changes nothing
    // A frame coded before tracing began: drawn, not traced.
    records.push_back(Received(kTavolinHopDrained, 0, 50));
    records.push_back(Received(kTavolinHopAssembled, 0, 51));
    records.push_back(Received(kTavolinHopDecoded, 0, 52));
    records.push_back(Received(kTavolinHopDrawn, 0, 53));

    const room::TracedFrames traced = room::TraceFrames(records);
    EXPECT_EQ(traced.drawn, 2u);
    ASSERT_EQ(traced.frames.size(), 1u);
    const room::FrameTimes& frame = traced.frames[0];
    EXPECT_EQ(frame[kTavolinHopSent], 103 * kMs);
    EXPECT_EQ(frame[room::kLastSent], 104 * kMs);
    EXPECT_EQ(frame[kTavolinHopReceived], 105 * kMs);
    EXPECT_EQ(frame[kTavolinHopDrained], 107 * kMs);
    EXPECT_EQ(frame[kTavolinHopDrawn], 110 * kMs);
}

TEST(HopTable, MedianAndP99OfEveryHopAndEndToEnd) {
    std::vector<TavolinHopRecord> records;
    for (uint32_t i = 0; i < 100; ++i) {
        const std::vector<TavolinHopRecord> frame = Frame(6000 * (i + 1), 1000 * i);
        records.insert(records.end(), frame.begin(), frame.end());
    }
    // One frame whose decoding took 50 ms longer: only the p99 sees it.
    records.push_back(Sent(kTavolinHopCaptured, 1, 0));
    records.push_back(Sent(kTavolinHopTaken, 1, 1));
    records.push_back(Sent(kTavolinHopCoded, 1, 2));
    records.push_back(Sent(kTavolinHopSent, 1, 3));
    for (TavolinHop hop : {kTavolinHopReceived, kTavolinHopQueued, kTavolinHopDrained, kTavolinHopAssembled})
        records.push_back(Received(hop, 1, 4));
    records.push_back(Received(kTavolinHopDecoded, 1, 60));
    records.push_back(Received(kTavolinHopDrawn, 1, 61));

    const room::HopTable table = room::BuildHopTable(records, 0);
    EXPECT_EQ(table.framesTraced, 101u);
    const auto step = [&](const std::string& name) {
        for (const room::HopStep& candidate : table.steps)
            if (candidate.name.rfind(name, 0) == 0) return candidate;
        ADD_FAILURE() << "no hop " << name;
        return room::HopStep{};
    };
    EXPECT_DOUBLE_EQ(*step("assembled -> decoded").medianMs, 1.0);
    EXPECT_DOUBLE_EQ(*step("assembled -> decoded").p99Ms, 1.0);  // 99th of 101: still a regular frame
    EXPECT_DOUBLE_EQ(*step("end to end: captured -> drawn").medianMs, 10.0);
    EXPECT_DOUBLE_EQ(*step("first -> last fragment sent").medianMs, 1.0);
    // The slowest hundredth of 101 frames is the slow one alone.
    EXPECT_DOUBLE_EQ(*step("assembled -> decoded").slowestMeanMs, 56.0);
    EXPECT_DOUBLE_EQ(*step("end to end: captured -> drawn").slowestMeanMs, 61.0);
    EXPECT_NE(room::HopTableJson(table).find("\"frames_traced\":101"), std::string::npos);
    // Captured from 0 to 99 s, one a second; the slow one (captured at 0 ms) in the first.
    ASSERT_EQ(table.seconds.size(), 100u);
    EXPECT_EQ(table.seconds[0].frames, 2u);
    EXPECT_DOUBLE_EQ(table.seconds[0].p99Ms, 60.0);
    EXPECT_DOUBLE_EQ(table.seconds[99].medianMs, 9.0);
}

}  // namespace

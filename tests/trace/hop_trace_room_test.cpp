// The hop trace in a room of two engines on loopback, linked into this test:
// every frame drawn on the other side passed every hop, in order; with the
// trace off the engines keep nothing.
#include "testbed/address_server/address_server_process.h"
#include "testbed/linked_engine.h"
#include "testbed/lobby.h"
#include "testbed/measurement/hop_table.h"
#include "testbed/room.h"

#include <tavolin/tavolin.h>

#include <gtest/gtest.h>

#include <thread>

namespace {
using namespace std::chrono_literals;

constexpr int kPlayers = 2;
// Times of two hops are read on different clocks' terms (the receive time
// comes from the RTP layer's clock); they may disagree by this much.
constexpr int64_t kClockSlackNs = 1000;

// The hops of a frame in the order it passes them.
constexpr size_t kOrder[] = {kTavolinHopCaptured,  kTavolinHopTaken,    kTavolinHopCoded,  kTavolinHopSent,
                             room::kLastSent,      kTavolinHopReceived, kTavolinHopQueued, kTavolinHopDrained,
                             kTavolinHopAssembled, kTavolinHopDecoded,  kTavolinHopDrawn};

std::vector<TavolinHopRecord> TakeAll() {
    std::vector<TavolinHopRecord> records(size_t{1} << 16);
    records.resize(TavolinTakeHopTrace(records.data(), records.size()));
    return records;
}

// Runs a room of two for `seconds`, tracing or not; returns the frames drawn.
uint64_t RunRoom(uint16_t serverPort, bool trace, std::chrono::seconds seconds) {
    std::vector<room::RoomPlayer> players;
    for (int id = 1; id <= kPlayers; ++id)
        players.push_back(room::SyntheticCameraPlayer(id, room::kLoopbackAddress, room::kLoopbackAddress, serverPort));
    room::SharedLobby lobby;
    room::Room room(room::LinkedEngine(), std::move(players), kPlayers, lobby);
    TavolinSetHopTrace(trace ? 1 : 0);
    std::string error;
    EXPECT_TRUE(room.Start(&error)) << error;
    std::this_thread::sleep_for(seconds);
    room.Stop();
    TavolinSetHopTrace(0);
    return room.Status().framesDrawn;
}

TEST(HopTraceRoom, EveryFrameDrawnPassedEveryHopInOrderAndNothingIsKeptWhenOff) {
    std::string error;
    const auto server = room::AddressServerProcess::Start(TAVOLIN_DEFAULT_ADDRD, &error);
    ASSERT_TRUE(server) << error;

    const uint64_t drawn = RunRoom(server->Port(), true, 4s);
    const room::TracedFrames traced = room::TraceFrames(TakeAll());
    ASSERT_GT(drawn, 0u);
    EXPECT_EQ(traced.drawn, drawn) << "the trace saw every remote picture drawn";
    // Frames coded before the peers met are drawn by none; those drawn were
    // all coded while tracing, so all are traced from capture on.
    EXPECT_EQ(traced.frames.size(), traced.drawn);
    for (const room::FrameTimes& frame : traced.frames)
        for (size_t i = 1; i < std::size(kOrder); ++i)
            ASSERT_LE(frame[kOrder[i - 1]], frame[kOrder[i]] + kClockSlackNs) << "hop " << kOrder[i];

    EXPECT_GT(RunRoom(server->Port(), false, 2s), 0u);
    EXPECT_TRUE(TakeAll().empty()) << "no records with the trace off";
}

}  // namespace

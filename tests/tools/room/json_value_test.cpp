// The JSON tree stats.json is built as: values, nesting and member order as
// written, and the one document with every part of a run in its place.
#include "tools/room/json_value.h"
#include "tools/room/report.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <optional>

namespace {
using room::JsonValue;

TEST(JsonValue, WritesEveryKindNestedInTheOrderBuilt) {
    JsonValue list = JsonValue::Array{};
    // The largest SSRC still prints whole.
    list.Push(uint32_t{4294967295}).Push(-2.5).Push(std::optional<double>()).Push(true).Push("x\"y");
    JsonValue object = JsonValue::Object{{"z", 1}, {"a", std::move(list)}};
    object.Add("empty", JsonValue::Object{})
        .Add("none", JsonValue())
        .Add("nan", std::numeric_limits<double>::quiet_NaN());
    EXPECT_EQ("{\"z\":1,\"a\":[4294967295,-2.5,null,true,\"x\\\"y\"],\"empty\":{},\"none\":null,\"nan\":null}",
              object.Text());
    EXPECT_EQ("[]", JsonValue(JsonValue::Array{}).Text());
    EXPECT_EQ("0.1", JsonValue(std::optional<double>(0.1)).Text());
}

TEST(StatsJson, OneDocumentWithTheRunsPartsAfterTheRoomsOwn) {
    room::RoomReport report;
    report.playersInRoom = 2;
    room::PlayerOutcome player;
    player.userId = 1;
    report.players.push_back(player);
    room::VoiceReport voice;
    voice.pairs.push_back({1, 2, 90, 1, 2, 0, 0, 40, 80.0, std::nullopt, 30.5, true});
    room::HopTable trace;
    trace.framesTraced = 7;
    room::RunFigures run;
    run.voice = &voice;
    run.monotonicSeconds = {{12.5, 15.0}};
    run.trace = &trace;

    const std::string json = room::StatsJson(report, run);
    const size_t failures = json.find("\"failures\":[]");
    const size_t voicePart = json.find(",\"voice\":{\"pairs\":[{\"listener\":1,\"speaker\":2,\"frames_received\":90,");
    const size_t transport = json.find(",\"transport\":[{\"id\":1,\"uplink_events\":[],\"peers\":[]}]");
    const size_t window = json.find(",\"run_monotonic_s\":{\"start\":12.5,\"end\":15}");
    const size_t tracePart = json.find(",\"trace\":{\"frames_drawn\":0,\"frames_traced\":7,");
    ASSERT_NE(std::string::npos, failures);
    ASSERT_NE(std::string::npos, voicePart);
    ASSERT_NE(std::string::npos, transport);
    ASSERT_NE(std::string::npos, window);
    ASSERT_NE(std::string::npos, tracePart);
    EXPECT_LT(failures, voicePart);
    EXPECT_LT(voicePart, transport);
    EXPECT_LT(transport, window);
    EXPECT_LT(window, tracePart);
    EXPECT_EQ('}', json.back());
    EXPECT_EQ(std::string::npos, json.find("\"relay\""));  // no relay ran

    // Without the run's parts: the room's own members and the engines' figures.
    const std::string alone = room::StatsJson(report);
    EXPECT_EQ(std::string::npos, alone.find("\"voice\""));
    EXPECT_EQ(std::string::npos, alone.find("\"run_monotonic_s\""));
    EXPECT_NE(std::string::npos,
              alone.find("\"failures\":[],\"transport\":[{\"id\":1,\"uplink_events\":[],\"peers\":[]}]}"));
}
}  // namespace

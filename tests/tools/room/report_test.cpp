// Why a pair failed, as the report tells it, and the files the report writes.
#include "testbed/room_log.h"
#include "tests/support/gbk.h"
#include "tools/room/json_writer.h"
#include "tools/room/report.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>

namespace {
using room::PairSummary;
using room::PlayerOutcome;
using room::RoomLog;
using room::RoomReport;

// Two players of this process that did everything right, and viewer 1 never
// showed sender 2; each test breaks one step.
class PairFailureTest : public testing::Test {
protected:
    PairFailureTest() {
        report_.playersInRoom = 2;
        for (int id : {1, 2}) {
            PlayerOutcome player;
            player.userId = id;
            player.engineCreated = true;
            player.cameraSelected = true;
            player.ownAddress = room::PeerAddress{id, 0x7F000001, 0x7F000001, 11000, 11000, 11002, 11002};
            player.peersAnnounced = {3 - id};
            player.peersAdded = {3 - id};
            report_.players.push_back(player);
            report_.senders.push_back({id, 100, 0, 15.0});
        }
        PairSummary nothingShown;
        nothingShown.viewer = 1;
        nothingShown.sender = 2;
        report_.pairs.push_back(nothingShown);
        PairSummary shown;
        shown.viewer = 2;
        shown.sender = 1;
        shown.frames = 90;
        report_.pairs.push_back(shown);
    }

    std::string Reason() {
        const auto failures = room::FindFailures(report_);
        EXPECT_EQ(1u, failures.size());
        if (failures.empty()) return "";
        EXPECT_EQ(1, failures[0].viewer);
        EXPECT_EQ(2, failures[0].sender);
        return failures[0].reason;
    }
    PlayerOutcome& Player(int id) { return report_.players[static_cast<size_t>(id - 1)]; }

    RoomReport report_;
};

TEST_F(PairFailureTest, NamesTheFirstStepThatDidNotHappen) {
    EXPECT_EQ("no packets: the sender never answered the viewer's greeting (no REHI), so nothing of it arrives",
              Reason());
    Player(1).events.push_back({TAVOLIN_EVENT_PEER_GREETED, 2, TAVOLIN_MEDIUM_VOICE});
    EXPECT_EQ("packets arrive (the sender answered the greeting) but no complete key frame was decoded", Reason());
    Player(2).peersAdded.clear();
    EXPECT_EQ("the sender's engine does not have the viewer, so it sends it nothing", Reason());
    Player(1).peersAdded.clear();
    EXPECT_EQ("the viewer's engine refused the sender", Reason());
    Player(1).peersAnnounced.clear();
    EXPECT_EQ("the lobby never announced the sender (it learned no public address or is not running)", Reason());
    Player(2).ownAddress.reset();
    EXPECT_EQ("the sender never learned its public address (no answer from the address server)", Reason());
    Player(1).ownAddress.reset();
    EXPECT_EQ("the viewer never learned its public address (no answer from the address server)", Reason());
    report_.senders[1].captured = 0;
    EXPECT_EQ("the sender's camera delivered no frames", Reason());
    Player(2).cameraSelected = false;
    EXPECT_EQ("the sender has no camera", Reason());
    Player(2).engineCreated = false;
    EXPECT_EQ("the sender's engine was not created", Reason());
    Player(1).engineCreated = false;
    EXPECT_EQ("the viewer's engine was not created", Reason());
}

TEST_F(PairFailureTest, ASenderInAnotherProcessIsJudgedByTheViewerAlone) {
    report_.players.pop_back();
    report_.senders.pop_back();
    report_.pairs.pop_back();
    Player(1).peersAnnounced.clear();
    Player(1).peersAdded.clear();
    EXPECT_EQ("the lobby never announced the sender (it learned no public address or is not running)", Reason());
}

TEST_F(PairFailureTest, StatsJsonCarriesPlayersPairsAndFailures) {
    report_.failures = room::FindFailures(report_);
    report_.pairs[1].latencyMedianMs = 42.5;
    const std::string json = room::StatsJson(report_);
    EXPECT_NE(std::string::npos, json.find("\"success\":false"));
    EXPECT_NE(std::string::npos, json.find("\"public_address\":\"127.0.0.1\""));
    EXPECT_NE(std::string::npos,
              json.find("{\"viewer\":2,\"sender\":1,\"frames\":90,\"frames_stamped\":0,\"fps\":0,\"frames_lost\":0,"
                        "\"latency_ms_median\":42.5,\"latency_ms_p99\":null"));
    EXPECT_NE(std::string::npos, json.find("\"failures\":[{\"viewer\":1,\"sender\":2,\"reason\":\"no packets"));
}

TEST(JsonWriter, NestsAndEscapes) {
    room::JsonWriter json;
    json.BeginObject().Key("a\"b").BeginArray().Number(1).String("x\n\x01").Null().Bool(true).EndArray();
    json.Key("n").Number(std::nan("")).Key("o").BeginObject().EndObject().EndObject();
    EXPECT_EQ("{\"a\\\"b\":[1,\"x\\n\\u0001\",null,true],\"n\":null,\"o\":{}}", json.Text());
}

TEST(RoomLog, ConvertsEngineTextsFromGbkAndNamesThePlayer) {
    RoomLog log;
    log.Add(2, testing_support::Gbk("Zephra：尝试使用局域网IP地址通信"));
    log.Add(3, std::string("bad \x81", 5));  // a cut-off two-byte character
    EXPECT_EQ(1u, log.Count(2, "Zephra：尝试使用局域网IP地址通信"));
    EXPECT_EQ(0u, log.Count(3, "Zephra：尝试使用局域网IP地址通信"));
    const auto lines = log.Lines();
    ASSERT_EQ(2u, lines.size());
    EXPECT_EQ("bad ?", lines[1].text);
    EXPECT_LE(lines[0].seconds, lines[1].seconds);

    const std::string path = testing::TempDir() + "room-log.txt";
    ASSERT_TRUE(log.WriteFile(path));
    std::ifstream file(path);
    std::string first, second;
    std::getline(file, first);
    std::getline(file, second);
    // "[   0.000 s] player 3: bad ?": time since the log began, then the player.
    EXPECT_EQ('[', second[0]);
    EXPECT_EQ(" s] player 3: bad ?", second.substr(9));
    EXPECT_EQ(" s] player 2: Zephra：尝试使用局域网IP地址通信", first.substr(9));
}

TEST(RoomLog, TheSinkFormatsLikePrintf) {
    RoomLog log;
    room::PlayerLogSink sink(log, 4);
    sink.Log(testing_support::Gbk("Zephra：引擎已经销毁：%d。").c_str(), -12);
    ASSERT_EQ(1u, log.Lines().size());
    EXPECT_EQ(4, log.Lines()[0].player);
    EXPECT_EQ("Zephra：引擎已经销毁：-12。", log.Lines()[0].text);
}
}  // namespace

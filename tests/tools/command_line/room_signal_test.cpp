// tavolin-room's children: Ctrl-C or SIGTERM ends the room early but
// cleanly, it reports and writes what it has, and its address server is
// gone with it; a room given a relay policy and no relay server starts a
// coturn of its own on loopback, relays every player through it, and stops
// it at the end (skipped where coturn is not installed).
#include "tests/tools/command_line/tool_process.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {
using tools_test::Finished;
using tools_test::ToolProcess;

// The children of `pid` as the kernel lists them.
std::vector<pid_t> ChildrenOf(pid_t pid) {
    std::ifstream list("/proc/" + std::to_string(pid) + "/task/" + std::to_string(pid) + "/children");
    std::vector<pid_t> children;
    for (pid_t child = 0; list >> child;) children.push_back(child);
    return children;
}

constexpr int kWaitMs = 20000;

size_t Count(const std::string& text, const std::string& what) {
    size_t count = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++count;
    return count;
}

class RoomStopSignal : public testing::TestWithParam<int> {};

TEST_P(RoomStopSignal, StopsTheRoomWritesItsFilesAndLeavesNoAddressServer) {
    const std::filesystem::path out =
        std::filesystem::temp_directory_path() / ("room-signal-" + std::to_string(getpid()));
    std::filesystem::remove_all(out);
    ToolProcess room({TAVOLIN_ROOM_PATH, "--players", "2", "--seconds", "60", "--out", out.string()});
    ASSERT_TRUE(room.WaitForOutput("[  1.0 s]", 20000));
    const std::vector<pid_t> children = ChildrenOf(room.Pid());
    ASSERT_EQ(1u, children.size());  // the address server

    ASSERT_EQ(0, kill(room.Pid(), GetParam()));
    const Finished finished = room.Wait(15000);
    EXPECT_EQ(1, finished.status);  // ended before its time
    EXPECT_NE(std::string::npos, finished.out.find("stopped by signal after"));
    EXPECT_NE(std::string::npos, finished.out.find("wrote " + out.string() + "/stats.json, mosaic.png, log.txt"));
    for (const char* file : {"stats.json", "mosaic.png", "log.txt"})
        EXPECT_GT(std::filesystem::file_size(out / file), 0u) << file;
    EXPECT_EQ(-1, kill(children[0], 0));
    EXPECT_EQ(ESRCH, errno);
    std::filesystem::remove_all(out);
}

INSTANTIATE_TEST_SUITE_P(Signals, RoomStopSignal, testing::Values(SIGINT, SIGTERM),
                         [](const auto& info) { return info.param == SIGINT ? "Interrupt" : "Terminate"; });

TEST(RoomRelay, ARoomGivenOnlyAPolicyRelaysThroughACoturnOfItsOwnAndStopsIt) {
    if (access("/usr/bin/turnserver", X_OK) != 0 && access("/usr/sbin/turnserver", X_OK) != 0)
        GTEST_SKIP() << "coturn is not installed";
    const std::filesystem::path out =
        std::filesystem::temp_directory_path() / ("room-own-relay-" + std::to_string(getpid()));
    std::filesystem::remove_all(out);
    ToolProcess room({TAVOLIN_ROOM_PATH, "--players", "2", "--seconds", "3", "--relay-policy", "always", "--out",
                      out.string()});
    ASSERT_TRUE(room.WaitForOutput("[  1.0 s]", kWaitMs));
    const std::vector<pid_t> children = ChildrenOf(room.Pid());
    EXPECT_EQ(2u, children.size()) << "the address server and the relay server";
    const Finished finished = room.Wait(kWaitMs);
    EXPECT_EQ(0, finished.status) << finished.out << finished.err;
    EXPECT_NE(std::string::npos, finished.out.find("(coturn, started for this room)")) << finished.out;
    std::ostringstream stats;
    stats << std::ifstream(out / "stats.json").rdbuf();
    EXPECT_EQ(2u, Count(stats.str(), "\"path\":\"relayed\"")) << finished.out;
    for (const pid_t child : children) {
        EXPECT_EQ(-1, kill(child, 0)) << "left running";
        EXPECT_EQ(ESRCH, errno);
    }
    std::filesystem::remove_all(out);
}
}  // namespace

// Ctrl-C or SIGTERM ends tavolin-room early but cleanly: it reports and
// writes what it has, and its address server is gone with it.
#include "tests/tools/command_line/tool_process.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <string>

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
}  // namespace

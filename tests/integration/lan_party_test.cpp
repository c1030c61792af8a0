// A LAN party without the address server: three tavolin-room processes on
// loopback whose server address answers nothing (a port nobody listens on).
// Each publishes its local address and ports once the server has left it
// unanswered for 4 s, and every one sees and hears the other two.
#include "tests/tools/command_line/tool_process.h"

#include <gtest/gtest.h>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>

namespace {
constexpr int kPlayers = 3;
constexpr int kSeconds = 10;  // 4 s without an answer, then the room (with room to spare on a busy machine)
constexpr int kExitAllowanceMs = 20000;

// A loopback UDP port that was free a moment ago and is let go again.
uint16_t UnusedPort() {
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    const bool bound = bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
                       getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0;
    close(fd);
    return bound ? ntohs(address.sin_port) : 0;
}

std::string ReadFile(const std::filesystem::path& path) {
    std::ifstream file(path);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

TEST(LanPartyWithoutAddressServer, PlayersPublishTheirLocalAddressesAndSeeAndHearEachOther) {
    const std::filesystem::path directory =
        std::filesystem::temp_directory_path() / ("lan-party-" + std::to_string(getpid()));
    std::filesystem::remove_all(directory);
    std::filesystem::create_directories(directory);
    const uint16_t silentPort = UnusedPort();
    ASSERT_NE(silentPort, 0);
    const std::string server = "127.0.0.1:" + std::to_string(silentPort);

    std::vector<std::unique_ptr<tools_test::ToolProcess>> players;
    for (int id = 1; id <= kPlayers; ++id)
        players.push_back(std::make_unique<tools_test::ToolProcess>(std::vector<std::string>{
            TAVOLIN_ROOM_PATH, "--join", directory.string(), "--id", std::to_string(id), "--players",
            std::to_string(kPlayers), "--server", server, "--seconds", std::to_string(kSeconds), "--out",
            (directory / ("out-" + std::to_string(id))).string()}));
    for (int id = 1; id <= kPlayers; ++id) {
        const tools_test::Finished finished = players[id - 1]->Wait(kSeconds * 1000 + kExitAllowanceMs);
        EXPECT_EQ(finished.status, 0) << "player " << id << ":\n" << finished.out << finished.err;
        // "user public local audioPublic audioLocal videoPublic videoLocal": the local pairs twice.
        std::istringstream published(ReadFile(directory / ("player-" + std::to_string(id) + ".addr")));
        std::string user, publicAddress, localAddress, ports[4];
        published >> user >> publicAddress >> localAddress >> ports[0] >> ports[1] >> ports[2] >> ports[3];
        ASSERT_FALSE(ports[3].empty()) << "player " << id << " published nothing";
        EXPECT_EQ(publicAddress + ports[0] + ports[2], localAddress + ports[1] + ports[3]) << published.str();
    }
    if (!testing::Test::HasFailure()) std::filesystem::remove_all(directory);
}
}  // namespace

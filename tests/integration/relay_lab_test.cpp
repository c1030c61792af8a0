// Players behind translators that defeat hole punching, relayed through
// coturn on the public side. Skipped without root, namespaces or coturn.
#include "tests/integration/player_lab.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <set>
#include <sstream>

namespace {
using integration::LabPlayer;
using integration::Mapping;
using integration::NetworkLab;
using integration::NumbersOf;
using integration::PlayerLab;

constexpr double kLeastShareShown = 0.95;
// Of all the sender captured: the run is 8 s, and meeting through the relay
// takes about one; latching waits for a second greeting, one more.
constexpr double kLeastShareOfRun = 0.8;
constexpr double kLeastShareOfRunLatched = 0.6;
// A player whose address server never answers waits 4 s first, then meets
// the others in one or two (its pictures from the next key frame), so its
// room runs longer. Measured on a loaded machine: 0.22 to 0.36 of an 8 s run.
constexpr int kLateRoomSeconds = 10;
constexpr double kLeastShareOfRunAfterTheAddressWait = 0.25;

class RelayLabTest : public testing::Test {
protected:
    void SetUp() override {
        const std::string why = NetworkLab::WhyUnavailable();
        if (!why.empty()) GTEST_SKIP() << why;
        if (!PlayerLab::RelayServerInstalled()) GTEST_SKIP() << "coturn is not installed";
        directory_ =
            std::filesystem::temp_directory_path() / ("room-relay-" + std::to_string(getpid()) + "-" +
                                                      testing::UnitTest::GetInstance()->current_test_info()->name());
        lab_ = std::make_unique<PlayerLab>(directory_);
        lab_->MakePublicSide();
    }
    void TearDown() override {
        lab_.reset();
        // TAVOLIN_KEEP_LAB_OUTPUT keeps the rooms' outputs for their figures.
        if (!HasFailure() && !directory_.empty() && !std::getenv("TAVOLIN_KEEP_LAB_OUTPUT"))
            std::filesystem::remove_all(directory_);
    }

    // What the translator's firewall lets out besides TCP.
    enum class Udp { kAll, kOnlyToSecondServer, kNone };

    // Player `id` alone behind translator `id`.
    LabPlayer Behind(Mapping mapping, int id, const std::vector<std::string>& options = {}, Udp udp = Udp::kAll) {
        const std::string nat = lab_->MakeTranslator(id, mapping);
        if (udp == Udp::kNone) lab_->Network().BlockUdp(nat, "vn");
        if (udp == Udp::kOnlyToSecondServer)
            lab_->Network().AllowUdpOnlyTo(nat, "vn", integration::kSecondServerAddress);
        LabPlayer player = lab_->MakeLanHost(nat, id, 2, id);
        player.options = options;
        return player;
    }

    // The relay server listens on the second address too.
    void StartServers(const std::vector<std::string>& relayOptions = {}) {
        ASSERT_TRUE(lab_->Network().Ok()) << lab_->Network().FailedCommand();
        addressServer_ = lab_->StartAddressServer();
        ASSERT_TRUE(addressServer_->Started());
        ASSERT_TRUE(lab_->StartRelayServer(relayOptions));
    }

    // Every viewer showed nearly every frame of every other player from its
    // first to its last (the room's players are in processes of their own,
    // so the stamps tell which were missed), that is most of what the sender
    // captured in the whole run, and heard every other player.
    // Pairs with a player of `late` need only `lateShareOfRun`.
    void ExpectEveryPairShownAndHeard(const std::vector<LabPlayer>& players, double leastShareOfRun = kLeastShareOfRun,
                                      const std::set<int>& late = {}, double lateShareOfRun = 0) {
        for (const LabPlayer& viewer : players) {
            const std::string stats = lab_->Stats(viewer.id);
            const std::string pairs = integration::ArrayOf(stats, "pairs");
            const std::vector<double> senders = NumbersOf(pairs, "sender");
            const std::vector<double> frames = NumbersOf(pairs, "frames");
            const std::vector<double> lost = NumbersOf(pairs, "frames_lost");
            ASSERT_EQ(players.size() - 1, senders.size()) << lab_->Printed(viewer.id);
            ASSERT_EQ(senders.size(), frames.size());
            ASSERT_EQ(senders.size(), lost.size());
            for (size_t i = 0; i < senders.size(); ++i) {
                const std::vector<double> captured =
                    NumbersOf(integration::ArrayOf(lab_->Stats(static_cast<int>(senders[i])), "players"),
                              "frames_captured");
                ASSERT_EQ(1u, captured.size());
                EXPECT_GE(frames[i] / (frames[i] + lost[i]), kLeastShareShown)
                    << viewer.id << " <- " << senders[i] << "\n"
                    << lab_->Printed(viewer.id);
                const bool latePair = late.count(viewer.id) || late.count(static_cast<int>(senders[i]));
                EXPECT_GE(frames[i] / captured.front(), latePair ? lateShareOfRun : leastShareOfRun)
                    << viewer.id << " <- " << senders[i] << "\n"
                    << lab_->Printed(viewer.id);
                std::cout << viewer.id << " <- " << senders[i] << ": " << frames[i] / captured.front()
                          << " of the frames captured shown\n";
            }
            EXPECT_EQ(players.size() - 1, Count(stats, "\"heard\":true")) << lab_->Printed(viewer.id);
        }
    }

    static size_t Count(const std::string& text, const std::string& what) {
        size_t count = 0;
        for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++count;
        return count;
    }

    std::unique_ptr<PlayerLab> lab_;
    std::unique_ptr<integration::NamespaceProcess> addressServer_;
    std::filesystem::path directory_;
};

TEST_F(RelayLabTest, NoFrameCrossesBetweenTwoSymmetricTranslatorsWithoutTheRelay) {
    const std::vector<LabPlayer> players{Behind(Mapping::kSymmetric, 1), Behind(Mapping::kSymmetric, 2)};
    StartServers();
    lab_->RunPlayers(players, 5);
    for (const LabPlayer& player : players) {
        const std::string stats = lab_->Stats(player.id);
        EXPECT_NE(std::string::npos, stats.find("\"success\":false")) << lab_->Printed(player.id);
        for (double frames : NumbersOf(stats, "frames")) EXPECT_EQ(0, frames) << lab_->Printed(player.id);
    }
}

// Every player relays when needed: the two whose translators draw a port
// per destination do, the one behind a port-preserving translator does not;
// the relayed ones reach it from their relayed addresses, it reaches them
// there. A fourth player's firewall lets UDP out to its relay server's
// address alone: only the relay server answers, so it relays too, once it
// has stopped waiting for the address server (4 s), and is told anew to the
// others, who had been told its local address then. The room is encrypted:
// the relay carries protected bytes as it carries plain ones (plain relayed
// rooms are the latching case's and the coturn test's).
TEST_F(RelayLabTest, FourPlayersOfAnEncryptedRoomSeeAndHearEachOtherThroughTheRelayWhereNeeded) {
    const std::vector<std::string> encrypted = {"--encrypt", "--room-secret", "000102030405060708090a0b0c0d0e0f",
                                                "--epoch", "1"};
    const auto withRelay = [&](const std::string& server) {
        std::vector<std::string> options = PlayerLab::RelayOptions("auto", server);
        options.insert(options.end(), encrypted.begin(), encrypted.end());
        return options;
    };
    const std::vector<std::string> options = withRelay(PlayerLab::RelayEndpoint());
    const std::vector<LabPlayer> players{
        Behind(Mapping::kSymmetric, 1, options), Behind(Mapping::kSymmetric, 2, options),
        Behind(Mapping::kPortPreserving, 3, options),
        Behind(Mapping::kPortPreserving, 4, withRelay(PlayerLab::RelayEndpoint(integration::kSecondServerAddress)),
               Udp::kOnlyToSecondServer)};
    StartServers({std::string("--listening-ip=") + integration::kSecondServerAddress});
    const std::vector<std::optional<int>> statuses = lab_->RunPlayers(players, kLateRoomSeconds);
    for (size_t i = 0; i < players.size(); ++i)
        EXPECT_EQ(std::optional<int>(0), statuses[i]) << lab_->Printed(players[i].id);
    ExpectEveryPairShownAndHeard(players, kLeastShareOfRun, {4}, kLeastShareOfRunAfterTheAddressWait);
    EXPECT_NE(std::string::npos, lab_->Stats(1).find("\"path\":\"relayed\""));
    EXPECT_NE(std::string::npos, lab_->Stats(2).find("\"path\":\"relayed\""));
    EXPECT_NE(std::string::npos, lab_->Stats(3).find("\"path\":\"direct\""));
    EXPECT_NE(std::string::npos, lab_->Stats(4).find("\"path\":\"relayed\"")) << lab_->Printed(4);
    for (const LabPlayer& player : players) {
        const std::string stats = lab_->Stats(player.id);
        EXPECT_NE(std::string::npos, stats.find("\"encrypted\":true")) << lab_->Printed(player.id);
        EXPECT_EQ(std::string::npos, stats.find("\"encrypted\":false")) << lab_->Printed(player.id);
        for (double failed : NumbersOf(stats, "authentication_failures"))
            EXPECT_EQ(0, failed) << lab_->Printed(player.id);
    }
}

// A player behind a port-randomising translator that is not relayed
// reaches the relayed players' addresses from a port of its own for each
// destination: the relayed players latch onto it. One of them relays over
// TCP, its firewall letting no UDP out at all.
TEST_F(RelayLabTest, RelayedPlayersLatchOntoAPlainSymmetricPlayerOneOfThemOverTcpWithUdpBlocked) {
    const std::vector<LabPlayer> players{
        Behind(Mapping::kSymmetric, 1, PlayerLab::RelayOptions("always")), Behind(Mapping::kSymmetric, 2),
        Behind(Mapping::kSymmetric, 3, PlayerLab::RelayOptions("always", "tcp:" + PlayerLab::RelayEndpoint()),
               Udp::kNone)};
    StartServers();
    const std::vector<std::optional<int>> statuses = lab_->RunPlayers(players, 8);
    for (size_t i = 0; i < players.size(); ++i)
        EXPECT_EQ(std::optional<int>(0), statuses[i]) << lab_->Printed(players[i].id);
    ExpectEveryPairShownAndHeard(players, kLeastShareOfRunLatched);
    const std::string overTcp = lab_->Stats(3);
    EXPECT_NE(std::string::npos, overTcp.find("\"path\":\"relayed\"")) << lab_->Printed(3);
    for (double datagrams : NumbersOf(overTcp, "datagrams_in")) EXPECT_GT(datagrams, 0) << lab_->Printed(3);
}

// A status line's time and incoming frame rate: "[  9.0 s] ... frames/s out 15.0 in 14.8, ...".
struct StatusLine {
    double seconds;
    double framesIn;
};

std::vector<StatusLine> StatusLines(const std::string& printed) {
    std::vector<StatusLine> lines;
    std::istringstream text(printed);
    for (std::string line; std::getline(text, line);) {
        const size_t in = line.find(" in ", line.find("frames/s out"));
        if (line.rfind("[", 0) != 0 || in == std::string::npos) continue;
        lines.push_back({std::strtod(line.c_str() + 1, nullptr), std::strtod(line.c_str() + in + 4, nullptr)});
    }
    return lines;
}

// The times of the log lines holding `text`, as the room stamped them: "[   8.123 s] player 1: ...".
std::vector<double> LoggedAt(const std::string& log, const std::string& text) {
    std::vector<double> times;
    std::istringstream lines(log);
    for (std::string line; std::getline(lines, line);)
        if (line.find(text) != std::string::npos) times.push_back(std::strtod(line.c_str() + 1, nullptr));
    return times;
}

constexpr int kFailoverRunSeconds = 14;
constexpr double kKillAtSeconds = 4.0;
// What the relay must show: a dead server found within 5 s, and media
// back within a few seconds of the failover (status lines come each second).
constexpr double kMostSecondsToDetect = 5.0;
constexpr double kMostSecondsToResume = 3.0;

// The first relay server dies mid-call: the relayed player finds it silent,
// allocates on the second server, and the lobby tells the other player its
// new address; that player adds it anew, and the pictures come back.
TEST_F(RelayLabTest, ARelayedPlayerFailsOverToTheSecondServerWhenTheFirstIsKilledMidCall) {
    std::vector<std::string> options = PlayerLab::RelayOptions("always");
    options.insert(options.end(), {"--relay", PlayerLab::RelayEndpoint(integration::kSecondServerAddress)});
    const std::vector<LabPlayer> players{Behind(Mapping::kSymmetric, 1, options), Behind(Mapping::kPortPreserving, 2)};
    StartServers();
    ASSERT_TRUE(lab_->StartRelayServer({}, integration::kSecondServerAddress));
    char killLine[16];
    std::snprintf(killLine, sizeof killLine, "[%5.1f s]", kKillAtSeconds);
    bool killed = false;
    lab_->RunPlayers(players, kFailoverRunSeconds, [&] {
        killed = lab_->AwaitPrinted(1, killLine, std::chrono::seconds(kFailoverRunSeconds));
        if (killed) lab_->KillRelayServer(0);
    });
    ASSERT_TRUE(killed) << lab_->Printed(1);

    const std::string failedText =
        "relay server " + PlayerLab::RelayEndpoint() + " failed (server silent), allocating on the next one";
    const std::vector<double> failedAt = LoggedAt(lab_->Log(1), failedText);
    ASSERT_EQ(2u, failedAt.size()) << "once per session\n" << lab_->Log(1);
    const double lastFailover = *std::max_element(failedAt.begin(), failedAt.end());
    for (const double at : failedAt) {
        EXPECT_GT(at, kKillAtSeconds);
        EXPECT_LE(at - kKillAtSeconds, kMostSecondsToDetect);
        std::cout << "relay death detected " << at - kKillAtSeconds << " s after the kill\n";
    }
    const std::string stats = lab_->Stats(1);
    for (const double failovers : NumbersOf(stats, "failovers")) EXPECT_EQ(1, failovers) << lab_->Printed(1);
    EXPECT_EQ(2u, Count(stats, "\"server\":\"" + PlayerLab::RelayEndpoint(integration::kSecondServerAddress) + "\""))
        << lab_->Printed(1);
    EXPECT_NE(std::string::npos, integration::ReadFile((directory_ / "player-1.addr").string())
                                     .find(std::string("1 ") + integration::kSecondServerAddress + " "))
        << "the second server relays from its own address";

    // Player 2 sees player 1 until the kill, nothing for a while, then again.
    const std::vector<StatusLine> seen = StatusLines(lab_->Printed(2));
    const auto outage = std::find_if(seen.begin(), seen.end(), [](const StatusLine& line) {
        return line.seconds > kKillAtSeconds && line.framesIn == 0;
    });
    ASSERT_NE(outage, seen.end()) << lab_->Printed(2);
    const auto resumed = std::find_if(outage, seen.end(), [](const StatusLine& line) { return line.framesIn > 0; });
    ASSERT_NE(resumed, seen.end()) << lab_->Printed(2);
    EXPECT_LE(resumed->seconds - lastFailover, kMostSecondsToResume) << lab_->Printed(2);
    std::cout << "pictures again by " << resumed->seconds << " s, " << resumed->seconds - lastFailover
              << " s after the failover (status lines each second)\n";
    EXPECT_EQ(1u, Count(lab_->Stats(2), "\"heard\":true")) << lab_->Printed(2);
}

}  // namespace

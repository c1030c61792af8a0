// Players behind translators that defeat hole punching, relayed through
// coturn on the public side. Skipped without root, namespaces or coturn.
#include "tests/integration/player_lab.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>

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
    enum class Udp { kAll, kNone };

    // Player `id` alone behind translator `id`.
    LabPlayer Behind(Mapping mapping, int id, const std::vector<std::string>& options = {}, Udp udp = Udp::kAll) {
        const std::string nat = lab_->MakeTranslator(id, mapping);
        if (udp == Udp::kNone) lab_->Network().BlockUdp(nat, "vn");
        LabPlayer player = lab_->MakeLanHost(nat, id, 2, id);
        player.options = options;
        return player;
    }

    void StartServers() {
        ASSERT_TRUE(lab_->Network().Ok()) << lab_->Network().FailedCommand();
        addressServer_ = lab_->StartAddressServer();
        ASSERT_TRUE(addressServer_->Started());
        ASSERT_TRUE(lab_->StartRelayServer());
    }

    // Every viewer showed nearly every frame of every other player from its
    // first to its last (the room's players are in processes of their own,
    // so the stamps tell which were missed), that is most of what the sender
    // captured in the whole run, and heard every other player.
    void ExpectEveryPairShownAndHeard(const std::vector<LabPlayer>& players,
                                      double leastShareOfRun = kLeastShareOfRun) {
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
                EXPECT_GE(frames[i] / captured.front(), leastShareOfRun) << viewer.id << " <- " << senders[i] << "\n"
                                                                         << lab_->Printed(viewer.id);
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
// there. The room is encrypted: the relay carries protected bytes as it
// carries plain ones (plain relayed rooms are the latching case's and the
// coturn test's).
TEST_F(RelayLabTest, ThreePlayersOfAnEncryptedRoomSeeAndHearEachOtherThroughTheRelayWhereNeeded) {
    std::vector<std::string> options = PlayerLab::RelayOptions("auto");
    options.insert(options.end(), {"--encrypt", "--room-secret", "000102030405060708090a0b0c0d0e0f", "--epoch", "1"});
    const std::vector<LabPlayer> players{Behind(Mapping::kSymmetric, 1, options),
                                         Behind(Mapping::kSymmetric, 2, options),
                                         Behind(Mapping::kPortPreserving, 3, options)};
    StartServers();
    const std::vector<std::optional<int>> statuses = lab_->RunPlayers(players, 8);
    for (size_t i = 0; i < players.size(); ++i)
        EXPECT_EQ(std::optional<int>(0), statuses[i]) << lab_->Printed(players[i].id);
    ExpectEveryPairShownAndHeard(players);
    EXPECT_NE(std::string::npos, lab_->Stats(1).find("\"path\":\"relayed\""));
    EXPECT_NE(std::string::npos, lab_->Stats(2).find("\"path\":\"relayed\""));
    EXPECT_NE(std::string::npos, lab_->Stats(3).find("\"path\":\"direct\""));
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

}  // namespace

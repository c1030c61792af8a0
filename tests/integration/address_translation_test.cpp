// Players behind address translators, each a tavolin-room process in a
// network namespace of its own, meeting through a shared lobby directory;
// the address server on the "public" side. Only addresses inside the
// namespaces made here are used: 198.18.0.0/24 outside, 10.77.x.0/24 inside.
#include "tests/integration/network_lab.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <memory>
#include <thread>

namespace {
using integration::NamespaceProcess;
using integration::NetworkLab;
using integration::ReadFile;
using namespace std::chrono_literals;

constexpr const char* kServerAddress = "198.18.0.1";
constexpr const char* kServerPort = "3478";
constexpr auto kServerStartTime = 300ms;
constexpr auto kExitAllowance = 15s;  // beyond the players' own run time

struct LanPlayer {
    int id;
    std::string ns;
    std::string localAddress;
};

class AddressTranslationTest : public testing::Test {
protected:
    void SetUp() override {
        const std::string why = NetworkLab::WhyUnavailable();
        if (!why.empty()) GTEST_SKIP() << why;
        directory_ =
            std::filesystem::temp_directory_path() / ("room-nat-" + std::to_string(getpid()) + "-" +
                                                      testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(directory_);
        std::filesystem::create_directories(directory_);
    }
    void TearDown() override {
        if (!HasFailure() && !directory_.empty()) std::filesystem::remove_all(directory_);
    }

    // The public side: a namespace whose bridge 198.18.0.1/24 carries the
    // address server and the translators' outside addresses.
    std::string MakePublicSide() {
        const std::string pub = lab_.AddNamespace("pub");
        lab_.AddBridge(pub, "br0");
        lab_.AddAddress(pub, "br0", std::string(kServerAddress) + "/24");
        return pub;
    }

    // Translator `index` with outside address 198.18.0.(index+1) and inside 10.77.index.1/24 on a bridge.
    std::string MakeTranslator(const std::string& pub, int index) {
        const std::string nat = lab_.AddNamespace("nat" + std::to_string(index));
        const std::string outside = "vp" + std::to_string(index);
        lab_.Link(pub, outside, nat, "vn");
        lab_.AttachToBridge(pub, outside, "br0");
        lab_.AddAddress(nat, "vn", "198.18.0." + std::to_string(index + 1) + "/24");
        lab_.AddBridge(nat, "br1");
        lab_.AddAddress(nat, "br1", "10.77." + std::to_string(index) + ".1/24");
        lab_.Translate(nat, "vn");
        return nat;
    }

    // A host 10.77.natIndex.host behind translator `nat`.
    LanPlayer MakeLanHost(const std::string& nat, int natIndex, int host, int playerId) {
        const std::string lan = lab_.AddNamespace("lan" + std::to_string(playerId));
        const std::string inside = "vr" + std::to_string(playerId);
        lab_.Link(nat, inside, lan, "vl");
        lab_.AttachToBridge(nat, inside, "br1");
        const std::string subnet = "10.77." + std::to_string(natIndex) + ".";
        lab_.AddAddress(lan, "vl", subnet + std::to_string(host) + "/24");
        lab_.AddDefaultRoute(lan, subnet + "1");
        return {playerId, lan, subnet + std::to_string(host)};
    }

    std::unique_ptr<NamespaceProcess> StartServer(const std::string& pub) {
        auto server = std::make_unique<NamespaceProcess>(
            pub, std::vector<std::string>{TAVOLIN_ADDRD_PATH, "--bind", kServerAddress, "--port", kServerPort},
            (directory_ / "addrd.txt").string());
        std::this_thread::sleep_for(kServerStartTime);
        return server;
    }

    std::unique_ptr<NamespaceProcess> StartPlayer(const LanPlayer& player, int players, int seconds) {
        const std::string id = std::to_string(player.id);
        return std::make_unique<NamespaceProcess>(
            player.ns,
            std::vector<std::string>{
                TAVOLIN_ROOM_PATH, "--join", directory_.string(), "--id", id, "--players", std::to_string(players),
                "--server", std::string(kServerAddress) + ":" + kServerPort, "--local-address", player.localAddress,
                "--seconds", std::to_string(seconds), "--out", OutDirectory(player.id)},
            (directory_ / ("player-" + id + ".txt")).string());
    }

    std::string OutDirectory(int id) const { return (directory_ / ("out-" + std::to_string(id))).string(); }

    // Runs both players to their end; each must have shown the other.
    void RunPlayers(const std::vector<LanPlayer>& players, int seconds) {
        std::vector<std::unique_ptr<NamespaceProcess>> processes;
        for (const LanPlayer& player : players) processes.push_back(StartPlayer(player, 2, seconds));
        for (size_t i = 0; i < processes.size(); ++i) {
            const std::optional<int> status = processes[i]->Wait(std::chrono::seconds(seconds) + kExitAllowance);
            EXPECT_EQ(std::optional<int>(0), status)
                << ReadFile((directory_ / ("player-" + std::to_string(players[i].id) + ".txt")).string());
        }
    }

    std::string Stats(int id) const { return ReadFile(OutDirectory(id) + "/stats.json"); }
    std::string Log(int id) const { return ReadFile(OutDirectory(id) + "/log.txt"); }

    NetworkLab lab_;
    std::filesystem::path directory_;
};

TEST_F(AddressTranslationTest, PlayersBehindTwoTranslatorsLearnTheirPublicAddressesAndExchangeVideo) {
    const std::string pub = MakePublicSide();
    const std::string nat1 = MakeTranslator(pub, 1);
    const std::string nat2 = MakeTranslator(pub, 2);
    const LanPlayer first = MakeLanHost(nat1, 1, 2, 1);
    const LanPlayer second = MakeLanHost(nat2, 2, 2, 2);
    ASSERT_TRUE(lab_.Ok()) << lab_.FailedCommand();
    const auto server = StartServer(pub);
    ASSERT_TRUE(server->Started());

    RunPlayers({first, second}, 8);

    // Each is seen from outside at its translator's address, greets the other there and is answered.
    EXPECT_NE(std::string::npos, Stats(1).find("\"public_address\":\"198.18.0.2\""));
    EXPECT_NE(std::string::npos, Stats(2).find("\"public_address\":\"198.18.0.3\""));
    for (int id : {1, 2}) {
        EXPECT_NE(std::string::npos, Log(id).find("player " + std::to_string(id) + ": 收到rehi")) << Log(id);
        EXPECT_EQ(std::string::npos, Log(id).find("尝试使用局域网IP地址通信")) << "no reason to switch";
    }
}

TEST_F(AddressTranslationTest, PlayersBehindOneTranslatorSwitchToTheirLocalAddresses) {
    const std::string pub = MakePublicSide();
    const std::string nat = MakeTranslator(pub, 1);
    const LanPlayer first = MakeLanHost(nat, 1, 2, 1);
    const LanPlayer second = MakeLanHost(nat, 1, 3, 2);
    ASSERT_TRUE(lab_.Ok()) << lab_.FailedCommand();
    const auto server = StartServer(pub);
    ASSERT_TRUE(server->Started());

    RunPlayers({first, second}, 10);

    // Both are seen at the one outside address: greetings there go nowhere,
    // and after 4 s both switch to the local addresses the lobby gave them.
    for (int id : {1, 2}) {
        EXPECT_NE(std::string::npos, Stats(id).find("\"public_address\":\"198.18.0.2\""));
        EXPECT_NE(std::string::npos,
                  Log(id).find("player " + std::to_string(id) + ": Zephra：尝试使用局域网IP地址通信"))
            << Log(id);
    }
}
}  // namespace

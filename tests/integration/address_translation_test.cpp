// Players behind address translators, each a tavolin-room process in a
// network namespace of its own, meeting through a shared lobby directory;
// the address server on the "public" side.
#include "tests/integration/player_lab.h"

#include <gtest/gtest.h>

#include <unistd.h>

namespace {
using integration::LabPlayer;
using integration::NetworkLab;
using integration::PlayerLab;

class AddressTranslationTest : public testing::Test {
protected:
    void SetUp() override {
        const std::string why = NetworkLab::WhyUnavailable();
        if (!why.empty()) GTEST_SKIP() << why;
        directory_ =
            std::filesystem::temp_directory_path() / ("room-nat-" + std::to_string(getpid()) + "-" +
                                                      testing::UnitTest::GetInstance()->current_test_info()->name());
        lab_ = std::make_unique<PlayerLab>(directory_);
    }
    void TearDown() override {
        lab_.reset();
        if (!HasFailure() && !directory_.empty()) std::filesystem::remove_all(directory_);
    }

    // Runs both players to their end; each must have shown the other.
    void RunPlayers(const std::vector<LabPlayer>& players, int seconds) {
        const std::vector<std::optional<int>> statuses = lab_->RunPlayers(players, seconds);
        for (size_t i = 0; i < players.size(); ++i)
            EXPECT_EQ(std::optional<int>(0), statuses[i]) << lab_->Printed(players[i].id);
    }

    std::unique_ptr<PlayerLab> lab_;
    std::filesystem::path directory_;
};

TEST_F(AddressTranslationTest, PlayersBehindTwoTranslatorsLearnTheirPublicAddressesAndExchangeVideo) {
    lab_->MakePublicSide();
    const std::string nat1 = lab_->MakeTranslator(1);
    const std::string nat2 = lab_->MakeTranslator(2);
    const LabPlayer first = lab_->MakeLanHost(nat1, 1, 2, 1);
    const LabPlayer second = lab_->MakeLanHost(nat2, 2, 2, 2);
    ASSERT_TRUE(lab_->Network().Ok()) << lab_->Network().FailedCommand();
    const auto server = lab_->StartAddressServer();
    ASSERT_TRUE(server->Started());

    RunPlayers({first, second}, 8);

    // Each is seen from outside at its translator's address, greets the other there and is answered.
    EXPECT_NE(std::string::npos, lab_->Stats(1).find("\"public_address\":\"198.18.0.2\""));
    EXPECT_NE(std::string::npos, lab_->Stats(2).find("\"public_address\":\"198.18.0.3\""));
    for (int id : {1, 2}) {
        EXPECT_NE(std::string::npos, lab_->Log(id).find("player " + std::to_string(id) + ": 收到rehi"))
            << lab_->Log(id);
        EXPECT_EQ(std::string::npos, lab_->Log(id).find("尝试使用局域网IP地址通信")) << "no reason to switch";
    }
}

TEST_F(AddressTranslationTest, PlayersBehindOneTranslatorSwitchToTheirLocalAddresses) {
    lab_->MakePublicSide();
    const std::string nat = lab_->MakeTranslator(1);
    const LabPlayer first = lab_->MakeLanHost(nat, 1, 2, 1);
    const LabPlayer second = lab_->MakeLanHost(nat, 1, 3, 2);
    ASSERT_TRUE(lab_->Network().Ok()) << lab_->Network().FailedCommand();
    const auto server = lab_->StartAddressServer();
    ASSERT_TRUE(server->Started());

    RunPlayers({first, second}, 10);

    // Both are seen at the one outside address: greetings there go nowhere,
    // and after 4 s both switch to the local addresses the lobby gave them.
    for (int id : {1, 2}) {
        EXPECT_NE(std::string::npos, lab_->Stats(id).find("\"public_address\":\"198.18.0.2\""));
        EXPECT_NE(std::string::npos,
                  lab_->Log(id).find("player " + std::to_string(id) + ": Zephra：尝试使用局域网IP地址通信"))
            << lab_->Log(id);
    }
}
}  // namespace

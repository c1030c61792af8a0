// The host's user operations and the per-user switches.
#include "engine/log_texts.h"
#include "tests/engine/engine_fixture.h"

#include <cstddef>

namespace {
using namespace testing_support;

constexpr uint32_t kPeerAddress = kLoopback;

class UserTable : public EngineTest {
protected:
    void SetUp() override {
        EngineTest::SetUp();
        ASSERT_EQ(1, CreateEngine());
        host.log.Clear();
    }
    ITavolinUser* User(int id) {
        ITavolinUser* user = nullptr;
        EXPECT_EQ(1, engine->GetUser(id, &user));
        return user;
    }
    std::string Format(const char* format, int value) {
        char text[256];
        snprintf(text, sizeof text, format, value);
        return text;
    }
};

TEST_F(UserTable, HoldsFifteenRemoteUsers) {
    EXPECT_EQ(0, engine->AddUser(kLocalId, kPeerAddress, kPeerAddress));
    EXPECT_EQ(1, engine->HasUser(kLocalId));
    for (int id = 100; id < 115; ++id) EXPECT_EQ(1, engine->AddUser(id, kPeerAddress, kPeerAddress)) << id;
    EXPECT_EQ(0, engine->AddUser(115, kPeerAddress, kPeerAddress));
    EXPECT_EQ(0, engine->HasUser(115));
    EXPECT_TRUE(host.log.Texts().empty());
}

TEST_F(UserTable, StatisticsAreGivenForRemoteUsersOnlyAndFitTheHostsSize) {
    ASSERT_EQ(1, engine->AddUser(100, kPeerAddress, kPeerAddress));
    ITavolinStatistics* statistics = nullptr;
    ASSERT_EQ(S_OK, engine->QueryInterface(IID_ITavolinStatistics, reinterpret_cast<void**>(&statistics)));
    TavolinPeerStatistics peer{};
    peer.size = sizeof peer;
    EXPECT_EQ(0, statistics->GetPeerStatistics(kLocalId, &peer));
    EXPECT_EQ(0, statistics->GetPeerStatistics(101, &peer));
    EXPECT_EQ(0, statistics->GetPeerStatistics(100, nullptr));
    ASSERT_EQ(1, statistics->GetPeerStatistics(100, &peer));
    EXPECT_EQ(100, peer.userId);
    EXPECT_EQ(0u, peer.framesReceived);
    EXPECT_EQ(-1, peer.roundTripMs) << "no report yet";

    // An older host's smaller struct is filled only as far as it reaches.
    TavolinPeerStatistics shorter{};
    shorter.size = offsetof(TavolinPeerStatistics, framesReceived);
    shorter.framesReceived = 12345;
    ASSERT_EQ(1, statistics->GetPeerStatistics(100, &shorter));
    EXPECT_EQ(100, shorter.userId);
    EXPECT_EQ(offsetof(TavolinPeerStatistics, framesReceived), shorter.size);
    EXPECT_EQ(12345u, shorter.framesReceived) << "beyond the host's size";
    shorter.size = 4;
    EXPECT_EQ(0, statistics->GetPeerStatistics(100, &shorter));
    statistics->Release();
}

TEST_F(UserTable, MinusOneNamesNoUserAndHandsOutNoFreeRecord) {
    ITavolinUser* user = nullptr;
    EXPECT_EQ(0, engine->HasUser(-1));
    EXPECT_EQ(0, engine->GetUser(-1, &user));
    EXPECT_EQ(nullptr, user);
    EXPECT_EQ(0, engine->AddUser(-1, kPeerAddress, kPeerAddress));
    EXPECT_EQ(0, engine->SetUserView(-1, nullptr));
    EXPECT_EQ(0, engine->RemoveUser(-1));
    for (int id = 100; id < 115; ++id)
        EXPECT_EQ(1, engine->AddUser(id, kPeerAddress, kPeerAddress)) << "all records still free";
}

TEST_F(UserTable, KnownUserTakesANewAddressButNotNone) {
    ASSERT_EQ(1, engine->AddUser(7, kPeerAddress, kPeerAddress));
    EXPECT_EQ(1, engine->AddUser(7, 0x7F000002, kPeerAddress));
    EXPECT_EQ(0, engine->AddUser(7, 0, kPeerAddress));
    EXPECT_EQ(0, engine->AddUser(7, 0xFFFFFFFF, kPeerAddress));
    EXPECT_TRUE(host.log.Texts().empty());
}

TEST_F(UserTable, PortsAreSetOncePerUser) {
    ASSERT_EQ(1, engine->AddUser(7, kPeerAddress, kPeerAddress));
    UdpPeer peer;
    EXPECT_EQ(1, engine->SetUserAudioPort(7, peer.Port(), peer.Port()));
    EXPECT_EQ(0, engine->SetUserAudioPort(7, peer.Port(), peer.Port()));
    EXPECT_EQ(1, engine->SetUserVideoPort(7, peer.Port(), peer.Port()));
    EXPECT_EQ(0, engine->SetUserVideoPort(7, peer.Port(), peer.Port()));
    EXPECT_EQ((std::vector<std::string>{Format(engine_log::kAudioPortTaken, 7),
                                        Format(engine_log::kVideoPortTaken, 7)}),
              host.log.Texts());

    ASSERT_EQ(1, engine->RemoveUser(7));
    ASSERT_EQ(1, engine->AddUser(7, kPeerAddress, kPeerAddress));
    EXPECT_EQ(1, engine->SetUserAudioPort(7, peer.Port(), peer.Port()));
}

TEST_F(UserTable, PortsOfUnknownAndLocalUsersAreRefused) {
    EXPECT_EQ(0, engine->SetUserAudioPort(9, 5000, 5000));
    EXPECT_EQ(0, engine->SetUserVideoPort(9, 5000, 5000));
    EXPECT_EQ(0, engine->SetUserVideoPort(kLocalId, 5000, 5000));
    EXPECT_EQ((std::vector<std::string>{Format(engine_log::kAudioPortUnknownUser, 9),
                                        Format(engine_log::kVideoPortUnknownUser, 9)}),
              host.log.Texts());
}

TEST_F(UserTable, RemoveFreesTheRecordForReuse) {
    ASSERT_EQ(1, engine->AddUser(7, kPeerAddress, kPeerAddress));
    ITavolinUser* before = User(7);
    before->SetValue(5);
    EXPECT_EQ(0, engine->RemoveUser(kLocalId));
    EXPECT_EQ(0, engine->RemoveUser(8));
    EXPECT_EQ(1, engine->RemoveUser(7));
    EXPECT_EQ((std::vector<std::string>{engine_log::kRemoveClear, engine_log::kRemoveTransmission,
                                        engine_log::kRemoveAudioEngine}),
              host.log.Texts());
    EXPECT_EQ(0, engine->HasUser(7));
    // The record is reused, so the old view stays valid and is cleared.
    EXPECT_EQ(100, before->GetValue());
    ASSERT_EQ(1, engine->AddUser(8, kPeerAddress, kPeerAddress));
    EXPECT_EQ(before, User(8));
}

TEST_F(UserTable, UserViewIsNotReferenceCounted) {
    ASSERT_EQ(1, engine->AddUser(7, kPeerAddress, kPeerAddress));
    ITavolinUser* user = User(7);
    void* out = nullptr;
    EXPECT_EQ(E_FAIL, user->QueryInterface(IID_IUnknown, &out));
    EXPECT_EQ(nullptr, out);
    EXPECT_EQ(1u, user->AddRef());
    EXPECT_EQ(0u, user->Release());
    EXPECT_EQ(0, engine->GetUser(7, nullptr));
    EXPECT_EQ(0, engine->GetUser(99, &user));
    EXPECT_EQ(0, engine->SetUserView(99, nullptr));
}

TEST_F(UserTable, VideoSwitchTellsTheViewOnlyOnChange) {
    ASSERT_EQ(1, engine->AddUser(7, kPeerAddress, kPeerAddress));
    TestView view;
    ASSERT_EQ(1, engine->SetUserView(7, &view));
    ITavolinUser* user = User(7);
    user->EnableVideo(1);
    user->EnableVideo(1);
    user->EnableVideo(2);
    user->EnableAudio(1);
    EXPECT_EQ(std::vector<int>({1, 2}), view.videoSwitches);
    EXPECT_EQ(std::vector<int>({1}), view.audioSwitches);
    EXPECT_EQ(2, user->IsVideoEnabled());
    EXPECT_EQ(1, user->IsAudioEnabled());
}
}  // namespace

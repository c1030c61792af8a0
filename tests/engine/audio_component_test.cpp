// The optional voice component: absent by default, called only when present.
#include "tests/engine/engine_fixture.h"

namespace {
using namespace testing_support;

RecordingAudioEngine* g_component = nullptr;

HRESULT MakeComponent(const IID*, void** out) {
    *out = static_cast<ITavolinAudioEngine*>(g_component);
    return S_OK;
}

class AudioComponent : public EngineTest {
protected:
    void SetUp() override {
        g_component = &component;
        TavolinRegisterComponent(&CLSID_TavolinAudioEngine, &MakeComponent);
        EngineTest::SetUp();
        ASSERT_EQ(1, CreateEngine(/*receiveOnly=*/0));
    }
    void TearDown() override {
        EngineTest::TearDown();
        TavolinRegisterComponent(&CLSID_TavolinAudioEngine, nullptr);
    }
    RecordingAudioEngine component;
};

TEST_F(AudioComponent, IsInitialisedByCreateAndDroppedOnceByDestroy) {
    EXPECT_EQ((std::vector<std::string>{"Init", "SetEngine"}), component.calls);
    EXPECT_NE(nullptr, component.sink);
    component.calls.clear();
    engine->Destroy();
    EXPECT_EQ((std::vector<std::string>{"Destroy", "Release"}), component.calls);
    engine->Release();
    engine = nullptr;
    EXPECT_EQ(2u, component.calls.size());
}

TEST_F(AudioComponent, FollowsTheLocalVoiceSwitchAndUserRemoval) {
    ITavolinUser* local = nullptr;
    ASSERT_EQ(1, engine->GetUser(kLocalId, &local));
    component.calls.clear();
    local->EnableAudio(1);
    local->EnableAudio(2);
    ASSERT_EQ(1, engine->AddUser(7, kLoopback, kLoopback));
    ITavolinUser* remote = nullptr;
    ASSERT_EQ(1, engine->GetUser(7, &remote));
    remote->EnableAudio(1);  // a remote user's switch does not reach the component
    engine->RemoveUser(7);
    EXPECT_EQ((std::vector<std::string>{"StartSend", "StopSend", "RemoveUser:7"}), component.calls);
}

TEST_F(AudioComponent, LevelsArePolledForUsersWithVoiceAndAView) {
    ASSERT_EQ(1, engine->AddUser(7, kLoopback, kLoopback));
    TestView localView, remoteView;
    engine->SetUserView(kLocalId, &localView);
    engine->SetUserView(7, &remoteView);
    ITavolinUser* local = nullptr;
    engine->GetUser(kLocalId, &local);
    local->EnableAudio(1);
    component.calls.clear();
    CTavolinEngineImpl::WindowProc(impl->Window(), WM_TIMER, 1, 0);
    EXPECT_EQ(std::vector<std::string>{"GetLevel:-1"}, component.calls);
    EXPECT_EQ(std::vector<int>{42}, localView.levels);
    EXPECT_TRUE(remoteView.levels.empty());
}

TEST_F(AudioComponent, ReceivedVoiceIsPlayedOnlyWhenTaggedOne) {
    component.calls.clear();
    uint8_t payload[51] = {1};
    impl->OnReceivedVoice(7, payload, sizeof payload);
    payload[0] = 2;
    impl->OnReceivedVoice(7, payload, sizeof payload);
    impl->OnReceivedVoice(7, payload, 0);
    EXPECT_EQ(std::vector<std::string>{"PlayAudio:7:50"}, component.calls);
}

TEST_F(AudioComponent, EncodedVoiceReachesTheSinkOfTheEngine) {
    UdpPeer peer;
    ASSERT_EQ(1, engine->AddUser(7, kLoopback, kLoopback));
    ASSERT_EQ(1, engine->SetUserAudioPort(7, peer.Port(), peer.Port()));
    peer.ReceiveAll(100);
    uint8_t frame[50] = {9};
    component.sink->OnEncodedAudio(frame, 50);
    const auto sent = peer.Receive(300);
    ASSERT_TRUE(sent);
    const auto rtp = ParseRtp(sent->bytes);
    ASSERT_TRUE(rtp);
    EXPECT_EQ(102, rtp->payloadType);
    EXPECT_EQ(51u, rtp->payload.size());
}
}  // namespace

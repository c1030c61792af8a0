// Create, Destroy, SetEventSink and the last Release.
#include "engine/log_texts.h"
#include "platform/log.h"
#include "tests/engine/engine_fixture.h"

#include <algorithm>
#include <string>
#include <vector>

namespace {
using namespace testing_support;
using Texts = std::vector<std::string>;

std::string Format(const char* format, int value) {
    char text[256];
    snprintf(text, sizeof text, format, value);
    return text;
}

Texts DestroyTexts(int identity) {
    return {engine_log::kDestroyAudioEngine,         engine_log::kDestroyTransmission, engine_log::kDestroyStopCapture,
            engine_log::kDestroyAudioCodec,          engine_log::kDestroyVideoCodec,   engine_log::kDestroyVideoEnc,
            Format(engine_log::kDestroyed, identity)};
}

class Lifecycle : public EngineTest {
protected:
    int Identity() const { return LogIdentity(static_cast<ITavolinEngine*>(impl)); }
};

TEST_F(Lifecycle, CreateAndDestroyLogTheirTextsInOrder) {
    ASSERT_EQ(1, CreateEngine());
    EXPECT_EQ(Texts{Format(engine_log::kCreateStart, Identity())}, host.log.Texts());
    host.log.Clear();
    EXPECT_EQ(1, engine->Destroy());
    EXPECT_EQ(DestroyTexts(Identity()), host.log.Texts());
    host.log.Clear();
    EXPECT_EQ(1, engine->Destroy());
    EXPECT_TRUE(host.log.Texts().empty());
}

TEST_F(Lifecycle, CreateWithoutCameraLogsTheCaptureAttempt) {
    TavolinRemoveSyntheticCameras();
    ASSERT_EQ(1, CreateEngine(/*receiveOnly=*/0));
    const Texts expected{Format(engine_log::kCreateStart, Identity()),
                         "Loop 1",
                         "InitCaptureGraphBuilder",
                         "InitCaptureGraphBuilder",
                         "CoCreateInstance",
                         "SetFiltergraph",
                         "EnumDevice"};
    EXPECT_EQ(expected, host.log.Texts());
}

TEST_F(Lifecycle, DestroyBeforeCreateDoesNothing) {
    engine->SetEventSink(&host);
    EXPECT_EQ(1, engine->Destroy());
    EXPECT_TRUE(host.log.Texts().empty());
}

TEST_F(Lifecycle, SecondCreateFailsAndLeavesTheEngineRunning) {
    ASSERT_EQ(1, CreateEngine());
    const uint16_t audioPort = engine->GetLocalAudioPort();
    host.log.Clear();
    EXPECT_EQ(0, engine->Create(TestInstance(), kLoopback, server.Port(), kLocalId, 0, 1));
    EXPECT_EQ((Texts{Format(engine_log::kCreateStart, Identity()), engine_log::kWindowFailed}), host.log.Texts());
    EXPECT_EQ(audioPort, engine->GetLocalAudioPort());
    EXPECT_EQ(1, engine->HasUser(kLocalId));
}

TEST_F(Lifecycle, CreateAgainAfterDestroy) {
    ASSERT_EQ(1, CreateEngine());
    ASSERT_EQ(1, engine->Destroy());
    EXPECT_EQ(1, CreateEngine());
}

TEST_F(Lifecycle, CreateSetsUpTheLocalUserAndAsksForThePublicAddress) {
    ASSERT_EQ(1, CreateEngine());
    EXPECT_EQ(1, engine->HasUser(kLocalId));
    EXPECT_EQ(0xFFFFFFFFu, engine->GetLocalAddress());
    const uint16_t audio = engine->GetLocalAudioPort(), video = engine->GetLocalVideoPort();
    for (uint16_t port : {audio, video}) {
        EXPECT_EQ(0, port % 2);
        EXPECT_GE(port, 11000);
        EXPECT_LE(port, 13998);
    }
    EXPECT_NE(audio, video);
    // One request from each session's RTP socket.
    const auto requests = server.ReceiveAll(500, 2);
    ASSERT_EQ(2u, requests.size());
    std::vector<uint16_t> from{requests[0].fromPort, requests[1].fromPort};
    EXPECT_NE(from.end(), std::find(from.begin(), from.end(), audio));
    EXPECT_NE(from.end(), std::find(from.begin(), from.end(), video));
}

TEST_F(Lifecycle, ANullEventSinkKeepsTheOldLogSink) {
    ASSERT_EQ(1, CreateEngine());
    EXPECT_EQ(1, engine->SetEventSink(nullptr));
    host.log.Clear();
    auto* record = new PublicAddressRecord{0x0A000001, 5000};
    Send(MSG_AUDIO_PUBLIC_ADDRESS, reinterpret_cast<WPARAM>(record), EngineParam());
    EXPECT_TRUE(host.addresses.empty());
    EXPECT_EQ(0xFFFFFFFFu, engine->GetLocalAddress());
    engine->Destroy();
    EXPECT_EQ(DestroyTexts(Identity()), host.log.Texts());
}

// A host without an event sink learns its public address from the event; the
// local record keeps 0xFFFFFFFF and its local ports.
TEST_F(Lifecycle, WithoutAnEventSinkThePublicAddressComesAsAnEventOnly) {
    struct AddressListener : ITavolinEventListener {
        void OnEvent(const TavolinEvent* event) override {
            if (event->kind == TAVOLIN_EVENT_PUBLIC_ADDRESS) heard.push_back(*event);
        }
        std::vector<TavolinEvent> heard;
    } listener;
    ASSERT_EQ(1, CreateEngine());
    EXPECT_EQ(1, engine->SetEventSink(nullptr));
    ITavolinEvents* events = nullptr;
    ASSERT_EQ(S_OK, engine->QueryInterface(IID_ITavolinEvents, reinterpret_cast<void**>(&events)));
    ASSERT_EQ(1, events->Subscribe(&listener));
    const uint16_t audio = engine->GetLocalAudioPort();
    Send(MSG_AUDIO_PUBLIC_ADDRESS, reinterpret_cast<WPARAM>(new PublicAddressRecord{0xC6120001, 40000}), EngineParam());
    ASSERT_EQ(1u, listener.heard.size());
    EXPECT_EQ(TAVOLIN_MEDIUM_VOICE, listener.heard[0].medium);
    EXPECT_EQ(0xC6120001u, listener.heard[0].address);
    EXPECT_EQ(40000, listener.heard[0].port);
    EXPECT_EQ(0xFFFFFFFFu, engine->GetLocalAddress());
    EXPECT_EQ(audio, engine->GetLocalAudioPort());
    events->Unsubscribe(&listener);
    events->Release();
}

TEST_F(Lifecycle, LastReleaseOfARunningEngineDestroysIt) {
    ASSERT_EQ(1, CreateEngine());
    const int identity = Identity();
    host.log.Clear();
    EXPECT_EQ(0u, engine->Release());
    engine = nullptr;
    EXPECT_EQ(DestroyTexts(identity), host.log.Texts());
}

TEST_F(Lifecycle, ReceiveOnlyEngineNeverStartsTheCamera) {
    ASSERT_EQ(1, CreateEngine(/*receiveOnly=*/1));
    ITavolinUser* local = nullptr;
    ASSERT_EQ(1, engine->GetUser(kLocalId, &local));
    TestView view;
    engine->SetUserView(kLocalId, &view);
    EXPECT_EQ(1, local->EnableVideo(1));
    EXPECT_EQ(1, local->IsVideoEnabled());
    EXPECT_EQ(std::vector<int>{1}, view.videoSwitches);
    for (const std::string& text : host.log.Texts()) EXPECT_EQ(std::string::npos, text.find("Loop")) << text;
}
}  // namespace

namespace {
using namespace testing_support;

ITavolinEngine* NewEngine() {
    ITavolinEngine* engine = nullptr;
    EXPECT_EQ(S_OK, DllGetClassObjectEx(&CLSID_TavolinEngine, &IID_ITavolinEngine, reinterpret_cast<void**>(&engine)));
    return engine;
}

// The window class name and the port draws come from the engine's own
// generator. The host's rand() sequence is left alone, and the codec
// library's reseeding of rand() (with one seed, whenever a decoder is made)
// cannot give two engines one class name.
TEST(EngineRandomness, CreateLeavesTheHostsRandAloneAndAReseededRandMakesNoTwins) {
    UdpPeer server;
    std::srand(7);
    const std::vector<int> expected = {std::rand(), std::rand(), std::rand()};
    std::srand(7);
    ITavolinEngine* first = NewEngine();
    ASSERT_EQ(1, first->Create(TestInstance(), kLoopback, server.Port(), 1, 0, 1));
    EXPECT_EQ(expected, (std::vector<int>{std::rand(), std::rand(), std::rand()}));

    ASSERT_EQ(1, first->AddUser(2, kLoopback, kLoopback));
    ITavolinEngine* second = NewEngine();
    ASSERT_EQ(1, first->AddUser(3, kLoopback, kLoopback));
    ITavolinEngine* third = NewEngine();
    EXPECT_EQ(1, second->Create(TestInstance(), kLoopback, server.Port(), 4, 0, 1));
    EXPECT_EQ(1, third->Create(TestInstance(), kLoopback, server.Port(), 5, 0, 1));
    for (ITavolinEngine* engine : {first, second, third}) engine->Release();
}
}  // namespace

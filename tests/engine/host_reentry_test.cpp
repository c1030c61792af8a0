// Hosts that act on the engine from inside its callbacks, as hosts do: they
// leave the room when a peer's media starts, remove a user from the user's
// own view, destroy the engine from the log sink. Whatever the act and
// wherever it comes from, the engine uses no freed memory, every received
// packet goes back to its pool, and the host hears nothing more of what it
// left.
#include "codec/video_enc.h"
#include "codec/video_fragments.h"
#include "engine/log_texts.h"
#include "platform/log.h"
#include "tests/engine/engine_fixture.h"
#include "tests/transport/transport_test_support.h"
#include "transport/address_server.h"
#include "transport/log_texts.h"
#include "transport/rtp/rtp_packet_pool.h"
#include "voice/voice_factory.h"

#include <chrono>
#include <functional>

namespace {
using namespace testing_support;
using transport_testing::Bytes;
using transport_testing::RtpDatagram;

constexpr int kLocalId = 1;
constexpr int kPeerId = 7;
constexpr uint32_t kPeerVoiceSsrc = 0x7001;
constexpr uint32_t kPeerVideoSsrc = 0x7002;

// Where the host acts.
enum class Hook {
    kVideoStarted,  // listener: TAVOLIN_EVENT_MEDIA_STARTED of video
    kVoiceStarted,  // listener: TAVOLIN_EVENT_MEDIA_STARTED of voice
    kPeerGreeted,   // listener: TAVOLIN_EVENT_PEER_GREETED of voice
    kPeerPicture,   // the peer's view: DrawFrame, from inside the peer's decoder
    kPeerLevel,     // the peer's view: SetLevel
    kHelloLogged,   // log sink: the text of an answered voice greeting
    kAddressTold,   // event sink: OnAudioAddress
    kDeviceName,    // device-name sink, during EnumDevices
};
// What it does there.
enum class Act { kDestroy, kRelease, kRemovePeer, kUnsubscribe };

struct Case {
    const char* name;
    Hook hook;
    Act act;
};

void PrintTo(const Case& what, std::ostream* out) { *out << what.name; }

const Case kCases[] = {
    {"DestroyWhenVideoStarts", Hook::kVideoStarted, Act::kDestroy},
    {"DestroyWhenVoiceStarts", Hook::kVoiceStarted, Act::kDestroy},
    {"ReleaseWhenVideoStarts", Hook::kVideoStarted, Act::kRelease},
    {"RemoveThePeerWhenItsVoiceStarts", Hook::kVoiceStarted, Act::kRemovePeer},
    {"UnsubscribeWhenVideoStarts", Hook::kVideoStarted, Act::kUnsubscribe},
    {"DestroyWhenThePeerAnswers", Hook::kPeerGreeted, Act::kDestroy},
    {"RemoveThePeerFromItsPicture", Hook::kPeerPicture, Act::kRemovePeer},
    {"ReleaseFromAPicture", Hook::kPeerPicture, Act::kRelease},
    {"RemoveThePeerFromItsLevel", Hook::kPeerLevel, Act::kRemovePeer},
    {"DestroyFromTheLogSink", Hook::kHelloLogged, Act::kDestroy},
    {"ReleaseWhenTheAddressIsTold", Hook::kAddressTold, Act::kRelease},
    {"ReleaseFromADeviceName", Hook::kDeviceName, Act::kRelease},
};

// One host object for every callback: event sink (with its log sink),
// listener, the peer's view and a device-name sink. It acts once, at its
// hook, and counts what it is told after the act that it should not be:
// anything after Destroy or Release, anything about the peer after removing
// it, any event after unsubscribing.
class ActingHost : public ITavolinEventSink,
                   public ITavolinEventListener,
                   public ITavolinUserView,
                   public ITavolinDeviceNameSink {
public:
    ActingHost(const Case& what, ITavolinEngine* engine, ITavolinEvents* events)
        : case_(what), engine_(engine), events_(events) {
        log.onText = [this](const std::string& text) {
            if (text == transport_log::kVoiceHelloAnswered) At(Hook::kHelloLogged);
        };
    }

    RecordingLogSink log;
    bool acted = false;
    int addresses = 0;
    int toldAfter = 0;

    HRESULT QueryInterface(const IID& iid, void** out) override {
        if (std::memcmp(&iid, &IID_ITavolinLogSink, sizeof iid) != 0) return E_NOINTERFACE;
        *out = static_cast<ITavolinLogSink*>(&log);
        return S_OK;
    }
    ULONG AddRef() override { return 1; }
    ULONG Release() override { return 1; }

    int OnAudioAddress(uint32_t, uint32_t, int, int) override {
        Told(false, false);
        ++addresses;
        At(Hook::kAddressTold);
        return 1;
    }
    int OnVideoAddress(uint32_t, uint32_t, int, int) override {
        Told(false, false);
        ++addresses;
        return 1;
    }

    void OnEvent(const TavolinEvent* event) override {
        Told(event->userId == kPeerId, true);
        if (event->kind == TAVOLIN_EVENT_MEDIA_STARTED)
            At(event->medium == TAVOLIN_MEDIUM_VIDEO ? Hook::kVideoStarted : Hook::kVoiceStarted);
        if (event->kind == TAVOLIN_EVENT_PEER_GREETED && event->medium == TAVOLIN_MEDIUM_VOICE) At(Hook::kPeerGreeted);
    }

    int DrawFrame(const BITMAPINFOHEADER* header, const uint8_t* bytes, int) override {
        Told(true, false);
        // Read the whole picture, as a host draws it.
        picture_.assign(bytes, bytes + header->biWidth * header->biHeight * 3);
        At(Hook::kPeerPicture);
        return 1;
    }
    int SetLevel(int) override {
        Told(true, false);
        At(Hook::kPeerLevel);
        return 1;
    }
    int Reserved() override { return 0; }
    int OnVideoEnabled(int) override {
        Told(true, false);
        return 1;
    }
    int OnAudioEnabled(int) override {
        Told(true, false);
        return 1;
    }

    // The names are the system's, not the engine's: they may go on after the act.
    void OnDeviceName(const char*) override { At(Hook::kDeviceName); }

private:
    void Told(bool aboutPeer, bool event) {
        if (!acted) return;
        const bool unwanted = case_.act == Act::kDestroy || case_.act == Act::kRelease ||
                              (case_.act == Act::kRemovePeer && aboutPeer) || (case_.act == Act::kUnsubscribe && event);
        if (unwanted) ++toldAfter;
    }
    void At(Hook hook) {
        if (acted || hook != case_.hook) return;
        acted = true;
        switch (case_.act) {
            case Act::kDestroy:
                EXPECT_EQ(1, engine_->Destroy());
                break;
            case Act::kRelease:
                EXPECT_EQ(0u, engine_->Release());
                break;
            case Act::kRemovePeer:
                EXPECT_EQ(1, engine_->RemoveUser(kPeerId));
                EXPECT_EQ(0, engine_->HasUser(kPeerId));
                break;
            case Act::kUnsubscribe:
                EXPECT_EQ(1, events_->Unsubscribe(this));
                break;
        }
    }

    const Case case_;
    ITavolinEngine* engine_;
    ITavolinEvents* events_;
    std::vector<uint8_t> picture_;
};

RecordingAudioEngine* g_component = nullptr;

HRESULT MakeComponent(const IID*, void** out) {
    *out = static_cast<ITavolinAudioEngine*>(g_component);
    return S_OK;
}

bool PumpUntil(const std::function<bool()>& done, int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done()) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        TavolinPumpMessages(10);
    }
    return true;
}

// A key frame as a peer's encoder codes it, cut into its fragments.
class CodedKeyFrame : private ITavolinVideoSink {
public:
    CodedKeyFrame() {
        std::vector<uint8_t> picture(kVideoFrameBytes);
        for (size_t i = 0; i < picture.size(); ++i) picture[i] = static_cast<uint8_t>(i / 480 + i % 97);
        CVideoEnc encoder;
        encoder.Open(kVideoWidth, kVideoHeight, this);
        InitCodecLibrary();
        encoder.CreateEncoder();
        encoder.Encode(picture.data(), true);
    }
    std::vector<std::vector<uint8_t>> fragments;

private:
    void OnEncodedVideo(const uint8_t* data, int, int length) override {
        const auto bytes = static_cast<size_t>(length);
        const int count = video_fragments::FragmentCount(bytes);
        uint8_t fragment[video_fragments::kMaxFragmentBytes];
        for (int i = 0; i < count; ++i)
            fragments.emplace_back(fragment, fragment + video_fragments::CutFragment(data, bytes, count, i, fragment));
    }
};

class EngineWithPeer : public testing::Test {
protected:
    void SetUp() override {
        g_component = &component_;
        TavolinRegisterComponent(&CLSID_TavolinAudioEngine, &MakeComponent);
        TavolinRemoveSyntheticCameras();
        ASSERT_EQ(1, TavolinAddSyntheticCamera("reentry camera", 0, 160, 120, 15, 0));
        ASSERT_TRUE(server_.Start(kLoopback, 0));
        before_ = rtp::RTPPacketPool::ProcessTotals();
        ASSERT_EQ(S_OK, DllGetClassObjectEx(&CLSID_TavolinEngine, &IID_ITavolinEngine,
                                            reinterpret_cast<void**>(&engine_)));
        // The interfaces share the engine's one count: the test keeps one
        // reference, so that the host's Release is the last.
        ASSERT_EQ(S_OK, engine_->QueryInterface(IID_ITavolinEvents, reinterpret_cast<void**>(&events_)));
        events_->Release();
        ASSERT_EQ(S_OK, engine_->QueryInterface(IID_ITavolinVideoDevice, reinterpret_cast<void**>(&device_)));
        device_->Release();
    }
    void TearDown() override {
        if (engine_) engine_->Release();
        TavolinRemoveSyntheticCameras();
        TavolinRegisterComponent(&CLSID_TavolinAudioEngine, nullptr);
    }

    // A peer whose voice and video come from two loopback sockets, with its
    // media switched on and the host's view.
    void AddPeer(ITavolinUserView* view) {
        ASSERT_EQ(1, engine_->AddUser(kPeerId, kLoopback, kLoopback));
        ASSERT_EQ(1, engine_->SetUserAudioPort(kPeerId, voicePeer_.Port(), voicePeer_.Port()));
        ASSERT_EQ(1, engine_->SetUserVideoPort(kPeerId, videoPeer_.Port(), videoPeer_.Port()));
        ASSERT_EQ(1, engine_->SetUserView(kPeerId, view));
        ITavolinUser* peer = nullptr;
        ASSERT_EQ(1, engine_->GetUser(kPeerId, &peer));
        peer->EnableVideo(1);
        peer->EnableAudio(1);
    }

    // A key frame, a voice frame and the answer to the voice greeting.
    void SendPeerTraffic() {
        static const CodedKeyFrame frame;
        uint16_t sequence = 0;
        for (const auto& fragment : frame.fragments) {
            const auto datagram = RtpDatagram(34, sequence++, 6000, kPeerVideoSsrc, fragment);
            ASSERT_TRUE(videoPeer_.SendTo(kLoopback, videoPort_, datagram.data(), datagram.size()));
        }
        std::vector<uint8_t> voice(51, 0x5A);
        voice[0] = 1;  // the voice tag
        const auto voiceDatagram = RtpDatagram(102, 1, 240, kPeerVoiceSsrc, voice);
        ASSERT_TRUE(voicePeer_.SendTo(kLoopback, voicePort_, voiceDatagram.data(), voiceDatagram.size()));
        const auto answer = RtpDatagram(1, 2, 480, kPeerVoiceSsrc, Bytes("REHI"));
        ASSERT_TRUE(voicePeer_.SendTo(kLoopback, voicePort_, answer.data(), answer.size()));
    }

    RecordingAudioEngine component_;
    CAddressServerThread server_;
    UdpPeer voicePeer_, videoPeer_;
    uint16_t voicePort_ = 0, videoPort_ = 0;
    rtp::RTPPacketPool::Totals before_{};
    ITavolinEngine* engine_ = nullptr;
    ITavolinEvents* events_ = nullptr;
    ITavolinVideoDevice* device_ = nullptr;
};

class HostReentry : public EngineWithPeer, public testing::WithParamInterface<Case> {};

std::string Format(const char* format, int value) {
    char text[256];
    snprintf(text, sizeof text, format, value);
    return text;
}

TEST_P(HostReentry, LeavesNoFreedMemoryNoPacketOutAndNothingMoreToHear) {
    const Case& what = GetParam();
    ActingHost host(what, engine_, events_);
    engine_->SetEventSink(&host);
    ASSERT_EQ(1, events_->Subscribe(&host));
    const int identity = LogIdentity(engine_);
    auto* impl = static_cast<CTavolinEngineImpl*>(engine_);
    ASSERT_EQ(1, engine_->Create(TestInstance(), kLoopback, server_.Port(), kLocalId, 0, 1));
    voicePort_ = engine_->GetLocalAudioPort();
    videoPort_ = engine_->GetLocalVideoPort();
    AddPeer(&host);

    if (what.hook == Hook::kDeviceName) {
        EXPECT_EQ(1, device_->EnumDevices(1, &host));
    } else {
        // The engine takes media once it knows its public address.
        ASSERT_TRUE(PumpUntil([&] { return host.addresses == 2 || host.acted; }, 3000));
        if (!host.acted) SendPeerTraffic();
        EXPECT_TRUE(PumpUntil([&] { return host.acted; }, 3000));
        PumpUntil([] { return false; }, 200);
    }
    EXPECT_TRUE(host.acted);
    EXPECT_EQ(0, host.toldAfter);

    switch (what.act) {
        case Act::kRelease:
            engine_ = nullptr;
            [[fallthrough]];
        case Act::kDestroy:
            // Done by the time the engine's work returned to the pump.
            EXPECT_EQ(1u, host.log.Count(Format(engine_log::kDestroyed, identity)));
            EXPECT_EQ(1, std::count(component_.calls.begin(), component_.calls.end(), "Destroy"));
            if (engine_) {
                EXPECT_EQ(nullptr, impl->Window());
            }
            break;
        case Act::kRemovePeer:
            EXPECT_EQ(0, engine_->HasUser(kPeerId));
            EXPECT_EQ(1, engine_->AddUser(kPeerId, kLoopback, kLoopback)) << "the record is free again";
            break;
        case Act::kUnsubscribe:
            EXPECT_EQ(0, events_->Unsubscribe(&host));
            break;
    }
    if (engine_) engine_->Destroy();
    const rtp::RTPPacketPool::Totals after = rtp::RTPPacketPool::ProcessTotals();
    EXPECT_EQ(after.acquired - before_.acquired, after.released - before_.released) << "a packet never went back";
}

INSTANTIATE_TEST_SUITE_P(Callbacks, HostReentry, testing::ValuesIn(kCases),
                         [](const testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

struct LocalSwitchListener : ITavolinEventListener {
    void OnEvent(const TavolinEvent* event) override {
        if (event->kind == TAVOLIN_EVENT_PEER_LOCAL_ADDRESS) switched.push_back(event->userId);
    }
    std::vector<int> switched;
};

// Two peers that never answer, the second greeted two seconds after the
// first. The host removes the first from its log sink as the first switches
// to its local pair: the second keeps its public pair until its own time.
TEST_F(EngineWithPeer, RemovingAPeerAsItSwitchesToItsLocalPairLeavesTheOtherAlone) {
    transport_testing::ManualTicks ticks(1000);
    TestEventSink host;
    LocalSwitchListener listener;
    engine_->SetEventSink(&host);
    ASSERT_EQ(1, events_->Subscribe(&listener));
    ASSERT_EQ(1, engine_->Create(TestInstance(), kLoopback, server_.Port(), kLocalId, 0, 1));
    // Our public address, 127.0.0.1, is the peers' too: they may be on our LAN.
    ASSERT_TRUE(PumpUntil([&] { return host.addresses.size() == 2; }, 3000));
    AddPeer(nullptr);
    ticks.Advance(2000);
    constexpr int kOtherId = 8;
    UdpPeer otherVoice, otherVideo;
    ASSERT_EQ(1, engine_->AddUser(kOtherId, kLoopback, kLoopback));
    ASSERT_EQ(1, engine_->SetUserAudioPort(kOtherId, otherVoice.Port(), otherVoice.Port()));
    ASSERT_EQ(1, engine_->SetUserVideoPort(kOtherId, otherVideo.Port(), otherVideo.Port()));
    host.log.onText = [&](const std::string& text) {
        if (text == transport_log::kSwitchToLocalAddress && engine_->HasUser(kPeerId)) engine_->RemoveUser(kPeerId);
    };
    auto* impl = static_cast<CTavolinEngineImpl*>(engine_);

    ticks.Advance(2000);
    CTavolinEngineImpl::WindowProc(impl->Window(), WM_TIMER, kTimerGreet, 0);
    EXPECT_EQ(0, engine_->HasUser(kPeerId));
    EXPECT_TRUE(listener.switched.empty()) << "no word of the removed peer, and the other's time has not come";

    ticks.Advance(2000);
    CTavolinEngineImpl::WindowProc(impl->Window(), WM_TIMER, kTimerGreet, 0);
    EXPECT_EQ(std::vector<int>{kOtherId}, listener.switched);
    EXPECT_EQ(1, events_->Unsubscribe(&listener));
    engine_->Destroy();  // while the host lives
}
// The voice component logs on the engine thread from a window of its own. A
// host that leaves from that log sink (here when its speaker fails) destroys
// the component from inside the component's own delivery of texts.
struct LeavingLogSink : ITavolinLogSink {
    HRESULT QueryInterface(const IID&, void**) override { return E_NOINTERFACE; }
    ULONG AddRef() override { return 1; }
    void Log(const char*, ...) override {
        if (!engine) return;
        EXPECT_EQ(1, engine->Destroy());
        EXPECT_EQ(0u, engine->Release());
        engine = nullptr;
    }
    ITavolinEngine* engine = nullptr;
};

TEST(VoiceLogSink, MayDestroyAndReleaseTheEngine) {
    TavolinRegisterComponent(&CLSID_TavolinAudioEngine, &voice::CreateVoiceComponent);
    ASSERT_EQ(1, TavolinAddSyntheticSpeaker("broken speaker", nullptr, nullptr, nullptr,
                                            TAVOLIN_SYNTHETIC_FAILS_TO_START));
    ITavolinEngine* engine = nullptr;
    ASSERT_EQ(S_OK, DllGetClassObjectEx(&CLSID_TavolinEngine, &IID_ITavolinEngine, reinterpret_cast<void**>(&engine)));
    TestEventSink host;
    engine->SetEventSink(&host);
    UdpPeer server;
    ASSERT_EQ(1, engine->Create(TestInstance(), kLoopback, server.Port(), kLocalId, 0, 1));
    const int identity = LogIdentity(engine);
    LeavingLogSink voiceLog;
    voiceLog.engine = engine;
    ASSERT_EQ(1, TavolinSetVoiceLogSink(engine, &voiceLog));
    ASSERT_EQ(1, TavolinSelectVoiceDevice(engine, TAVOLIN_VOICE_SPEAKER, "broken speaker"));
    EXPECT_TRUE(PumpUntil([&] { return voiceLog.engine == nullptr; }, 3000));
    PumpUntil([] { return false; }, 100);
    EXPECT_EQ(1u, host.log.Count(Format(engine_log::kDestroyed, identity)));
    if (voiceLog.engine) voiceLog.engine->Release();
    TavolinRemoveSyntheticAudioDevices();
    TavolinRegisterComponent(&CLSID_TavolinAudioEngine, nullptr);
}
}  // namespace

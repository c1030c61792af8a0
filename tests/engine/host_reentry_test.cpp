// Hosts that act on the engine from inside its callbacks, as hosts do: leave
// the room when a peer's media starts, remove a user from its own view,
// destroy the engine from the log sink. Whatever the act, the engine uses no
// freed memory, every received packet goes back to its pool, and the host
// hears nothing more of what it left.
#include "codec/video_enc.h"
#include "codec/video_fragments.h"
#include "engine/log_texts.h"
#include "platform/log.h"
#include "tests/engine/engine_fixture.h"
#include "tests/transport/transport_test_support.h"
#include "transport/address/address_server.h"
#include "transport/log_texts.h"
#include "transport/rtp/rtp_packet_pool.h"
#include "voice/voice_factory.h"

#include <chrono>
#include <functional>

namespace {
using namespace testing_support;
using transport_testing::RtpDatagram;

constexpr int kLocalId = 1;
constexpr int kPeerId = 7;

enum class Hook { kVideoStarted, kVoiceStarted, kPicture, kHelloLogged };
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
    {"UnsubscribeWhenVideoStarts", Hook::kVideoStarted, Act::kUnsubscribe},
    {"RemoveThePeerFromItsPicture", Hook::kPicture, Act::kRemovePeer},
    {"ReleaseFromAPicture", Hook::kPicture, Act::kRelease},
    {"DestroyFromTheLogSink", Hook::kHelloLogged, Act::kDestroy},  // the transmission holds the answer
};

// Event sink (with its log sink), listener and the peer's view in one. It
// acts once, at its hook, and counts what it is told afterwards that it
// should not be: anything after Destroy or Release, anything about the peer
// after removing it, any event after unsubscribing.
class ActingHost : public ITavolinEventSink, public ITavolinEventListener, public ITavolinUserView {
public:
    ActingHost(const Case& what, ITavolinEngine* engine, ITavolinEvents* events)
        : case_(what), engine_(engine), events_(events) {
        log.onText = [this](const std::string& text) {
            if (text == transport_log::kVoiceHelloAnswered) At(Hook::kHelloLogged);
        };
    }
    RecordingLogSink log;
    bool acted = false;
    int addresses = 0, toldAfter = 0;

    HRESULT QueryInterface(const IID& iid, void** out) override {
        if (!IsEqualGUID(iid, IID_ITavolinLogSink)) return E_NOINTERFACE;
        *out = static_cast<ITavolinLogSink*>(&log);
        return S_OK;
    }
    ULONG AddRef() override { return 1; }
    ULONG Release() override { return 1; }
    int OnAudioAddress(uint32_t, uint32_t, int, int) override { return Told(false), ++addresses; }
    int OnVideoAddress(uint32_t, uint32_t, int, int) override { return Told(false), ++addresses; }
    void OnEvent(const TavolinEvent* event) override {
        Told(event->userId == kPeerId, true);
        if (event->kind == TAVOLIN_EVENT_MEDIA_STARTED)
            At(event->medium == TAVOLIN_MEDIUM_VIDEO ? Hook::kVideoStarted : Hook::kVoiceStarted);
    }
    int DrawFrame(const BITMAPINFOHEADER* header, const uint8_t* bytes, int) override {
        Told(true);
        picture_.assign(bytes, bytes + header->biWidth * header->biHeight * 3);  // read, as a host draws
        At(Hook::kPicture);
        return 1;
    }
    int SetLevel(int) override { return Told(true), 1; }
    int Reserved() override { return 0; }
    int OnVideoEnabled(int) override { return Told(true), 1; }
    int OnAudioEnabled(int) override { return Told(true), 1; }

private:
    void Told(bool aboutPeer, bool event = false) {
        const Act act = case_.act;
        if (acted && (act == Act::kDestroy || act == Act::kRelease || (act == Act::kRemovePeer ? aboutPeer : event)))
            ++toldAfter;
    }
    void At(Hook hook) {
        if (acted || hook != case_.hook) return;
        acted = true;
        const int done = case_.act == Act::kDestroy      ? engine_->Destroy()
                         : case_.act == Act::kRelease    ? static_cast<int>(engine_->Release()) + 1  // the last: 0
                         : case_.act == Act::kRemovePeer ? engine_->RemoveUser(kPeerId)
                                                         : events_->Unsubscribe(this);
        EXPECT_EQ(1, done);
    }
    const Case case_;
    ITavolinEngine* engine_;
    ITavolinEvents* events_;
    std::vector<uint8_t> picture_;
};

bool PumpUntil(const std::function<bool()>& done, int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done() && std::chrono::steady_clock::now() < deadline) TavolinPumpMessages(10);
    return done();
}

std::string Format(const char* format, int value) {
    char text[256];
    snprintf(text, sizeof text, format, value);
    return text;
}

// The fragments of one key frame, as a peer's encoder codes it.
std::vector<std::vector<uint8_t>> KeyFrameFragments() {
    struct Cutter : ITavolinVideoSink {
        void OnEncodedVideo(const uint8_t* data, int, int length) override {
            const auto bytes = static_cast<size_t>(length);
            const int count = video_fragments::FragmentCount(bytes);
            uint8_t fragment[video_fragments::kMaxFragmentBytes];
            for (int i = 0; i < count; ++i)
                fragments.emplace_back(fragment,
                                       fragment + video_fragments::CutFragment(data, bytes, count, i, fragment));
        }
        std::vector<std::vector<uint8_t>> fragments;
    } cutter;
    std::vector<uint8_t> picture(kVideoFrameBytes);
    for (size_t i = 0; i < picture.size(); ++i) picture[i] = static_cast<uint8_t>(i / 480 + i % 97);
    CVideoEnc encoder;
    encoder.Open(kVideoWidth, kVideoHeight, &cutter);
    InitCodecLibrary();
    encoder.CreateEncoder();
    encoder.Encode(picture.data(), true);
    return cutter.fragments;
}

// An engine without a voice component, an address server and a peer whose
// voice and video come from two loopback sockets.
class EngineWithPeer : public testing::Test {
protected:
    void SetUp() override {
        TavolinRegisterComponent(&CLSID_TavolinAudioEngine, nullptr);
        ASSERT_TRUE(server_.Start(kLoopback, 0));
        ASSERT_EQ(S_OK,
                  DllGetClassObjectEx(&CLSID_TavolinEngine, &IID_ITavolinEngine, reinterpret_cast<void**>(&engine_)));
        // The interface shares the engine's one count: the host's Release is the last.
        engine_->QueryInterface(IID_ITavolinEvents, reinterpret_cast<void**>(&events_));
        events_->Release();
    }
    void TearDown() override {
        if (engine_) engine_->Release();
    }
    void CreateWithPeer(ITavolinEventSink* host, ITavolinUserView* view) {
        engine_->SetEventSink(host);
        ASSERT_EQ(1, engine_->Create(TestInstance(), kLoopback, server_.Port(), kLocalId, 0, 1));
        voicePort_ = engine_->GetLocalAudioPort();
        videoPort_ = engine_->GetLocalVideoPort();
        ASSERT_EQ(1, engine_->AddUser(kPeerId, kLoopback, kLoopback));
        ASSERT_EQ(1, engine_->SetUserAudioPort(kPeerId, voicePeer_.Port(), voicePeer_.Port()));
        ASSERT_EQ(1, engine_->SetUserVideoPort(kPeerId, videoPeer_.Port(), videoPeer_.Port()));
        engine_->SetUserView(kPeerId, view);
        ITavolinUser* peer = nullptr;
        ASSERT_EQ(1, engine_->GetUser(kPeerId, &peer));
        peer->EnableVideo(1);
    }
    // A key frame, a voice frame and the answer to the voice greeting.
    void SendPeerTraffic() {
        static const auto fragments = KeyFrameFragments();
        uint16_t sequence = 0;
        for (const auto& fragment : fragments) {
            const auto datagram = RtpDatagram(34, sequence++, 6000, 0x7002, fragment);
            ASSERT_TRUE(videoPeer_.SendTo(kLoopback, videoPort_, datagram.data(), datagram.size()));
        }
        std::vector<uint8_t> voice(51, 0x5A);
        voice[0] = 1;  // the voice tag
        for (const auto& datagram : {RtpDatagram(102, 1, 240, 0x7001, voice),
                                     RtpDatagram(1, 2, 480, 0x7001, transport_testing::Bytes("REHI"))})
            ASSERT_TRUE(voicePeer_.SendTo(kLoopback, voicePort_, datagram.data(), datagram.size()));
    }

    CAddressServerThread server_;
    UdpPeer voicePeer_, videoPeer_;
    uint16_t voicePort_ = 0, videoPort_ = 0;
    ITavolinEngine* engine_ = nullptr;
    ITavolinEvents* events_ = nullptr;
};

class HostReentry : public EngineWithPeer, public testing::WithParamInterface<Case> {};

TEST_P(HostReentry, LeavesNoFreedMemoryNoPacketOutAndNothingMoreToHear) {
    const rtp::RTPPacketPool::Totals before = rtp::RTPPacketPool::ProcessTotals();
    ActingHost host(GetParam(), engine_, events_);
    ASSERT_EQ(1, events_->Subscribe(&host));
    const int identity = LogIdentity(engine_);
    CreateWithPeer(&host, &host);
    // The engine takes media once it knows its public address.
    ASSERT_TRUE(PumpUntil([&] { return host.addresses == 2; }, 3000));
    SendPeerTraffic();
    EXPECT_TRUE(PumpUntil([&] { return host.acted; }, 3000));
    PumpUntil([] { return false; }, 200);
    EXPECT_EQ(0, host.toldAfter);

    if (GetParam().act == Act::kRelease) engine_ = nullptr;
    const bool gone = GetParam().act == Act::kDestroy || GetParam().act == Act::kRelease;
    // Torn down by the time the engine's work returned to the pump.
    EXPECT_EQ(gone ? 1u : 0u, host.log.Count(Format(engine_log::kDestroyed, identity)));
    if (engine_) {
        EXPECT_EQ(GetParam().act == Act::kRemovePeer ? 0 : 1, engine_->HasUser(kPeerId));
        engine_->Destroy();
    }
    const rtp::RTPPacketPool::Totals after = rtp::RTPPacketPool::ProcessTotals();
    EXPECT_EQ(after.acquired - before.acquired, after.released - before.released) << "a packet never went back";
}

INSTANTIATE_TEST_SUITE_P(Callbacks, HostReentry, testing::ValuesIn(kCases),
                         [](const testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

// Two peers that never answer, the second greeted two seconds after the
// first. The host removes the first from its log sink as it switches to its
// local pair: the second keeps its public pair until its own time.
TEST_F(EngineWithPeer, RemovingAPeerAsItSwitchesToItsLocalPairLeavesTheOtherAlone) {
    struct : ITavolinEventListener {
        void OnEvent(const TavolinEvent* event) override {
            if (event->kind == TAVOLIN_EVENT_PEER_LOCAL_ADDRESS) switched.push_back(event->userId);
        }
        std::vector<int> switched;
    } listener;
    transport_testing::ManualTicks ticks(1000);
    TestEventSink host;
    ASSERT_EQ(1, events_->Subscribe(&listener));
    CreateWithPeer(&host, nullptr);
    // Our public address, 127.0.0.1, is the peers' too: they may be on our LAN.
    ASSERT_TRUE(PumpUntil([&] { return host.addresses.size() == 2; }, 3000));
    ticks.Advance(2000);
    UdpPeer otherVoice;
    ASSERT_EQ(1, engine_->AddUser(8, kLoopback, kLoopback));
    ASSERT_EQ(1, engine_->SetUserAudioPort(8, otherVoice.Port(), otherVoice.Port()));
    host.log.onText = [&](const std::string& text) {
        if (text == transport_log::kSwitchToLocalAddress && engine_->HasUser(kPeerId)) engine_->RemoveUser(kPeerId);
    };
    const HWND window = static_cast<CTavolinEngineImpl*>(engine_)->Window();
    for (const std::vector<int>& expected : {std::vector<int>{}, std::vector<int>{8}}) {
        ticks.Advance(2000);
        CTavolinEngineImpl::WindowProc(window, WM_TIMER, kTimerGreet, 0);
        EXPECT_EQ(expected, listener.switched);
    }
    EXPECT_EQ(0, engine_->HasUser(kPeerId));
    engine_->Destroy();  // while the host lives
}

// The voice component logs from a window of its own, outside the engine's
// work; a host that leaves from that log sink (its speaker fails) destroys
// the component inside the component's own delivery of texts.
TEST(VoiceLogSink, MayDestroyAndReleaseTheEngine) {
    struct : ITavolinLogSink {
        HRESULT QueryInterface(const IID&, void**) override { return E_NOINTERFACE; }
        ULONG AddRef() override { return 1; }
        void Log(const char*, ...) override {
            if (engine) std::exchange(engine, nullptr)->Release();
        }
        ITavolinEngine* engine = nullptr;
    } leaving;
    TavolinRegisterComponent(&CLSID_TavolinAudioEngine, &voice::CreateVoiceComponent);
    TavolinAddSyntheticSpeaker("broken speaker", nullptr, nullptr, nullptr, TAVOLIN_SYNTHETIC_FAILS_TO_START);
    DllGetClassObjectEx(&CLSID_TavolinEngine, &IID_ITavolinEngine, reinterpret_cast<void**>(&leaving.engine));
    UdpPeer server;
    ASSERT_EQ(1, leaving.engine->Create(TestInstance(), kLoopback, server.Port(), kLocalId, 0, 1));
    ASSERT_EQ(1, TavolinSetVoiceLogSink(leaving.engine, &leaving));
    ASSERT_EQ(1, TavolinSelectVoiceDevice(leaving.engine, TAVOLIN_VOICE_SPEAKER, "broken speaker"));
    EXPECT_TRUE(PumpUntil([&] { return !leaving.engine; }, 3000));
    if (leaving.engine) leaving.engine->Release();
    TavolinRemoveSyntheticAudioDevices();
    TavolinRegisterComponent(&CLSID_TavolinAudioEngine, nullptr);
}
}  // namespace

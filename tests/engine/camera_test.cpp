// The local camera end to end on a synthetic camera: the local user's video
// switch starts and stops capture, the preview gets upright-coded 160 x 120
// frames at about 15 per second, and the encoder's fragments reach a peer.
#include "tests/engine/engine_fixture.h"
#include "tests/transport/transport_test_support.h"

#include <chrono>
#include <set>

namespace {
using namespace testing_support;

constexpr int kPeerId = 7;
constexpr int kStampBits = 16;

// The frame number the camera stamped into the top eighth of the picture.
// Rows are bottom-up, so the top of the picture is at the end of the buffer.
int StampedNumber(const std::vector<uint8_t>& picture) {
    const int rowFromTop = kVideoHeight / 16;
    const uint8_t* row = picture.data() + size_t(kVideoHeight - 1 - rowFromTop) * kVideoWidth * 3;
    int number = 0;
    for (int bit = 0; bit < kStampBits; ++bit) {
        const int x = bit * (kVideoWidth / kStampBits) + kVideoWidth / kStampBits / 2;
        number = (number << 1) | (row[x * 3 + 1] > 128 ? 1 : 0);
    }
    return number;
}

class PreviewView : public TestView {
public:
    std::vector<int> numbers;
    int DrawFrame(const BITMAPINFOHEADER* header, const uint8_t* bytes, int length) override {
        TestView::DrawFrame(header, bytes, length);
        numbers.push_back(StampedNumber(lastFrame));
        return 1;
    }
};

void PumpFor(std::chrono::milliseconds duration) {
    const auto end = std::chrono::steady_clock::now() + duration;
    while (std::chrono::steady_clock::now() < end) TavolinPumpMessages(10);
}

class LocalCamera : public EngineTest {
protected:
    void SetUp() override {
        TavolinRemoveSyntheticCameras();
        ASSERT_EQ(1,
                  TavolinAddSyntheticCamera("engine test camera", 0, 320, 240, 30, TAVOLIN_CAMERA_STAMP_FRAME_NUMBER));
        EngineTest::SetUp();
        ASSERT_EQ(1, CreateEngine(/*receiveOnly=*/0));
    }
    void TearDown() override {
        EngineTest::TearDown();
        TavolinRemoveSyntheticCameras();
    }
};

TEST_F(LocalCamera, VideoSwitchRunsThePreviewAndTheEncoder) {
    ITavolinVideoDevice* device = nullptr;
    ASSERT_EQ(S_OK, engine->QueryInterface(IID_ITavolinVideoDevice, reinterpret_cast<void**>(&device)));
    EXPECT_STREQ("engine test camera", device->GetDeviceName());
    device->Release();

    UdpPeer videoPeer;
    ASSERT_EQ(1, engine->AddUser(kPeerId, kLoopback, kLoopback));
    ASSERT_EQ(1, engine->SetUserVideoPort(kPeerId, videoPeer.Port(), videoPeer.Port()));
    PreviewView preview;
    ASSERT_EQ(1, engine->SetUserView(kLocalId, &preview));
    ITavolinUser* local = nullptr;
    ASSERT_EQ(1, engine->GetUser(kLocalId, &local));

    local->EnableVideo(1);
    PumpFor(std::chrono::milliseconds(2000));
    // 30 frames a second from the camera, at most one per 66 ms kept.
    EXPECT_GE(preview.frames, 22);
    EXPECT_LE(preview.frames, 32);
    EXPECT_EQ(160, preview.lastHeader.biWidth);
    EXPECT_EQ(120, preview.lastHeader.biHeight);
    EXPECT_EQ(57600, preview.lastLength);
    // Read from the top of a bottom-up picture, the stamps count upwards.
    ASSERT_GE(preview.numbers.size(), 5u);
    for (size_t i = 1; i < preview.numbers.size(); ++i) EXPECT_GT(preview.numbers[i], preview.numbers[i - 1]) << i;

    std::set<uint32_t> codedFrames;
    for (const Datagram& datagram : videoPeer.ReceiveAll(200))
        if (auto rtp = ParseRtp(datagram.bytes); rtp && rtp->payloadType == 34) codedFrames.insert(rtp->timestamp);
    EXPECT_GE(codedFrames.size(), size_t(preview.frames) - 2);

    // The host's figures agree with what the preview and the peer saw: the
    // first key frame is the coder's, then one is forced after 26 P frames.
    ITavolinStatistics* statistics = nullptr;
    ASSERT_EQ(S_OK, engine->QueryInterface(IID_ITavolinStatistics, reinterpret_cast<void**>(&statistics)));
    TavolinLocalStatistics figures{};
    figures.size = sizeof figures;
    ASSERT_EQ(1, statistics->GetLocalStatistics(&figures));
    EXPECT_EQ(uint64_t(preview.frames), figures.framesCaptured);
    EXPECT_GE(figures.framesCoded, codedFrames.size());
    EXPECT_EQ(1u, figures.keyFramesByCoder);
    EXPECT_EQ(figures.framesCoded > 27 ? 1u : 0u, figures.keyFramesRegular);
    EXPECT_EQ(0u, figures.keyFramesAsked);
    EXPECT_EQ(figures.keyFramesByCoder + figures.keyFramesRegular, figures.keyFrames);
    statistics->Release();

    local->EnableVideo(2);
    PumpFor(std::chrono::milliseconds(300));
    const int stoppedAt = preview.frames;
    PumpFor(std::chrono::milliseconds(500));
    EXPECT_EQ(stoppedAt, preview.frames);
}
struct RecordingListener : ITavolinEventListener {
    void OnEvent(const TavolinEvent* event) override { events.push_back({event->kind, event->text}); }
    std::vector<std::pair<int, std::string>> events;
};

TEST_F(LocalCamera, EventsTellTheHostWhichCameraRunsAndWhichFailed) {
    ITavolinEvents* events = nullptr;
    ASSERT_EQ(S_OK, engine->QueryInterface(IID_ITavolinEvents, reinterpret_cast<void**>(&events)));
    RecordingListener listener, unsubscribed;
    EXPECT_EQ(1, events->Subscribe(&listener));
    EXPECT_EQ(0, events->Subscribe(&listener)) << "once is enough";
    EXPECT_EQ(1, events->Subscribe(&unsubscribed));
    EXPECT_EQ(1, events->Unsubscribe(&unsubscribed));

    ITavolinUser* local = nullptr;
    ASSERT_EQ(1, engine->GetUser(kLocalId, &local));
    local->EnableVideo(1);
    ITavolinVideoDevice* device = nullptr;
    ASSERT_EQ(S_OK, engine->QueryInterface(IID_ITavolinVideoDevice, reinterpret_cast<void**>(&device)));
    EXPECT_EQ(0, device->SelectDevice("no such camera"));
    device->Release();
    EXPECT_EQ((std::vector<std::pair<int, std::string>>{{TAVOLIN_EVENT_CAMERA_STARTED, "engine test camera"},
                                                        {TAVOLIN_EVENT_CAMERA_FAILED, "no such camera"}}),
              listener.events);
    EXPECT_TRUE(unsubscribed.events.empty());
    EXPECT_EQ(1, events->Unsubscribe(&listener));
    events->Release();
}

// A host that changes the camera while the engine has a frame in hand, from
// the frame's preview or from the event that the lost camera runs again:
// the old camera's frames are freed with it, and that frame is neither drawn
// nor coded.
class CameraChange : public LocalCamera, public PreviewView, public ITavolinEventListener {
protected:
    void SetUp() override {
        LocalCamera::SetUp();
        ASSERT_EQ(1, TavolinAddSyntheticCamera("second camera", 1, 320, 240, 30, TAVOLIN_CAMERA_STAMP_FRAME_NUMBER));
        engine->QueryInterface(IID_ITavolinVideoDevice, reinterpret_cast<void**>(&device));
        engine->QueryInterface(IID_ITavolinEvents, reinterpret_cast<void**>(&events));
        events->Subscribe(this);
        engine->SetUserView(kLocalId, this);
        engine->GetUser(kLocalId, &local);
    }
    void TearDown() override {
        events->Unsubscribe(this);
        events->Release();
        device->Release();
        LocalCamera::TearDown();
    }
    int DrawFrame(const BITMAPINFOHEADER* header, const uint8_t* bytes, int length) override {
        PreviewView::DrawFrame(header, bytes, length);
        if (frames == changeAtPreview) changes += device->SelectDevice("second camera");
        return 1;
    }
    void OnEvent(const TavolinEvent* event) override {
        if (event->kind == TAVOLIN_EVENT_CAMERA_STARTED && lost) changes += device->SelectDevice("second camera");
        lost = event->kind == TAVOLIN_EVENT_CAMERA_LOST;
    }
    // Frames taken from the camera, less the one whose camera went away.
    void ExpectOneFrameDropped(uint64_t drawnOfThem) {
        ITavolinStatistics* statistics = nullptr;
        engine->QueryInterface(IID_ITavolinStatistics, reinterpret_cast<void**>(&statistics));
        TavolinLocalStatistics figures{};
        figures.size = sizeof figures;
        EXPECT_EQ(1, statistics->GetLocalStatistics(&figures));
        statistics->Release();
        EXPECT_EQ(1, changes);
        EXPECT_EQ(figures.framesCaptured - 1, figures.framesCoded) << "a frame of the removed camera was coded";
        EXPECT_EQ(figures.framesCaptured - drawnOfThem, uint64_t(frames)) << "a frame of the removed camera was drawn";
    }
    ITavolinVideoDevice* device = nullptr;
    ITavolinEvents* events = nullptr;
    ITavolinUser* local = nullptr;
    int changeAtPreview = -1;
    int changes = 0;
    bool lost = false;
};

TEST_F(CameraChange, FromThePreview) {
    changeAtPreview = 3;
    local->EnableVideo(1);
    PumpFor(std::chrono::milliseconds(1000));
    ExpectOneFrameDropped(0);  // drawn before the change
    EXPECT_GE(frames, 6) << "the second camera runs";
}

TEST_F(CameraChange, WhenTheLostCameraRunsAgain) {
    transport_testing::ManualTicks ticks(1000);
    local->EnableVideo(1);
    for (int i = 0; i < 300 && frames < 2; ++i) TavolinPumpMessages(10);
    // No frame for longer than the camera may be silent, as the greeting timer sees it.
    ticks.Advance(CTavolinEngineImpl::kCameraSilenceMs + 1);
    CTavolinEngineImpl::WindowProc(impl->Window(), WM_TIMER, kTimerGreet, 0);
    PumpFor(std::chrono::milliseconds(600));
    ExpectOneFrameDropped(1);
}
}  // namespace

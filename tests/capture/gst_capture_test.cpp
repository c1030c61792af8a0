// The capture engine on GStreamer with a synthetic camera, delivering to a
// message window the way the engine receives its frames. Real time.
#include "capture/cap_zephra.h"
#include "tests/capture/frame_stamp.h"
#include "tests/platform/recording_window.h"
#include "tests/support/recording_log_sink.h"

#include <gtest/gtest.h>

#include <chrono>

namespace {

constexpr int kWhitePattern = 3;
constexpr int kVideoWidth = 160;
constexpr int kVideoHeight = 120;
constexpr int kVideoFrameBytes = kVideoWidth * kVideoHeight * 3;
constexpr UINT kFrameCaptured = 9161;
constexpr auto kMeasuredTime = std::chrono::seconds(2);

class GstCaptureTest : public ::testing::Test {
protected:
    ~GstCaptureTest() override { TavolinRemoveSyntheticCameras(); }
};

TEST_F(GstCaptureTest, WindowReceivesAbout15ScaledFramesPerSecond) {
    ASSERT_EQ(TavolinAddSyntheticCamera("Desk", kWhitePattern, 320, 240, 30, TAVOLIN_CAMERA_STAMP_FRAME_NUMBER), 1);
    platform_test::RecordingClass windowClass;
    platform_test::MessageLog messages;
    HWND window = windowClass.CreateWindow(&messages);
    ASSERT_NE(window, nullptr);
    int engine = 0;

    testing_support::RecordingLogSink log;
    CCapZephra capture;
    capture.SetLogSink(&log);
    capture.SetFrameNotice(kFrameCaptured, &engine);
    ASSERT_EQ(capture.Create(window, kVideoWidth, kVideoHeight), 1);
    EXPECT_STREQ(capture.GetDeviceName(), "Desk");

    std::vector<uint32_t> stamps;
    int badFrames = 0;
    messages.onMessage = [&](HWND, const platform_test::Received& received) {
        if (received.message != kFrameCaptured) return;
        if (received.wParam != 0 || received.lParam != reinterpret_cast<LPARAM>(&engine)) ++badFrames;
        uint32_t length = 0;
        const uint8_t* frame = capture.GetFrame(&length);
        if (!frame) return;
        if (length != static_cast<uint32_t>(kVideoFrameBytes)) ++badFrames;
        stamps.push_back(capture_testing::ReadFrameStamp(frame, kVideoWidth, kVideoHeight));
    };

    ASSERT_EQ(capture.StartCapture(), 1);
    const auto start = std::chrono::steady_clock::now();
    while (std::chrono::steady_clock::now() - start < kMeasuredTime) TavolinPumpMessages(20);
    ASSERT_EQ(capture.StopCapture(), 1);
    const size_t during = stamps.size();
    TavolinPumpMessages(0);

    EXPECT_EQ(badFrames, 0);
    // 30 frames per second from the camera, every other one accepted.
    EXPECT_GE(during, 22u);
    EXPECT_LE(during, 36u);
    for (size_t i = 1; i < stamps.size(); ++i) EXPECT_GT(stamps[i], stamps[i - 1]);
    capture.DestroyGraph();
    DestroyWindow(window);
}

TEST_F(GstCaptureTest, SelectDeviceSwitchesBetweenSyntheticCameras) {
    ASSERT_EQ(TavolinAddSyntheticCamera("Front", kWhitePattern, 160, 120, 30, 0), 1);
    ASSERT_EQ(TavolinAddSyntheticCamera("Back", kWhitePattern, 176, 144, 30, 0), 1);
    CCapZephra capture;
    ASSERT_EQ(capture.Create(nullptr, 160, 120), 1);
    EXPECT_STREQ(capture.GetDeviceName(), "Front");
    EXPECT_EQ(capture.SelectDevice("back"), 1);
    EXPECT_STREQ(capture.GetDeviceName(), "Back");  // the camera's own spelling
    EXPECT_EQ(capture.StartCapture(), 1);
    EXPECT_EQ(capture.HasPropertyPage(0), 0);
    EXPECT_EQ(capture.ShowPropertyPage(nullptr, 0), 0);
    EXPECT_EQ(capture.StopCapture(), 1);
}

}  // namespace

// Building, running and tearing down the capture graph on the fake platform.
#include "tests/capture/capture_fixture.h"

namespace {

using capture_testing::CaptureTest;
using Texts = std::vector<std::string>;

TEST_F(CaptureTest, WithoutCameraCreateLogsItsStepsAndFails) {
    EXPECT_EQ(capture.Create(nullptr, 160, 120), 0);
    EXPECT_EQ(log.Texts(), (Texts{"Loop 1", "InitCaptureGraphBuilder", "InitCaptureGraphBuilder", "CoCreateInstance",
                                  "SetFiltergraph", "EnumDevice"}));
    EXPECT_EQ(platform.LiveObjects(), 0);
}

TEST_F(CaptureTest, SuccessfulBuildLogsEveryStepThenTestRunsAndStops) {
    AddCamera("Cam");
    EXPECT_EQ(capture.Create(nullptr, 160, 120), 1);
    EXPECT_EQ(log.Texts(), (Texts{"Loop 1", "InitCaptureGraphBuilder", "InitCaptureGraphBuilder", "CoCreateInstance",
                                  "SetFiltergraph", "EnumDevice", "Cam", "Cam,BindToObject", "Cam,AddFilter",
                                  "InitVideoSize", "InitGrapbber", "InitGrapbberSetMediaType", "InitGrapbberAddFilter",
                                  "InitGrapbber GetOutPin", "InitGrapbber GetInPin", "InitGrapbber Connect",
                                  "InitGrapbber GetConnectedMediaType", "FindInterface", "InnerCreate return"}));
    EXPECT_EQ(platform.runCalls, 1);
    EXPECT_EQ(platform.stopCalls, 1);
    // Built and stopped: no frame reaches the grabber until StartCapture.
    const auto frame = capture_testing::RandomFrame(160, 120, 1);
    EXPECT_FALSE(platform.Deliver(1.0, frame.data(), static_cast<long>(frame.size())));
}

// The last log text names the step that failed.
TEST_F(CaptureTest, FailingStepEndsCreateAfterItsLogText) {
    struct Case {
        void (*breakIt)(fake_media::FakeMediaPlatform&);
        const char* lastText;
    };
    const Case cases[] = {
        {[](auto& p) { p.failGraphBuilder = true; }, "InitCaptureGraphBuilder"},
        {[](auto& p) { p.failFilterGraph = true; }, "CoCreateInstance"},
        {[](auto& p) { p.failDeviceEnum = true; }, "EnumDevice"},
        {[](auto& p) { p.failSampleGrabber = true; }, "InitGrapbber"},
        {[](auto& p) { p.cameras[0].connectFails = true; }, "InitGrapbber Connect"},
    };
    for (const Case& c : cases) {
        fake_media::FakeMediaPlatform platform;
        platform.cameras.push_back(fake_media::CameraScript::Named("Cam"));
        c.breakIt(platform);
        testing_support::RecordingLogSink log;
        {
            CCapZephra capture;
            capture.SetLogSink(&log);
            EXPECT_EQ(capture.Create(nullptr, 160, 120), 0);
            EXPECT_EQ(log.Texts().back(), c.lastText);
        }
        EXPECT_EQ(platform.LiveObjects(), 0) << c.lastText;
    }
}

TEST_F(CaptureTest, RequestWhoseFrameDoesNotFitASlotIsRefused) {
    AddCamera("Cam");
    EXPECT_EQ(capture.Create(nullptr, 320, 240), 0);  // 230400 bytes
    EXPECT_EQ(capture.Create(nullptr, 0, 120), 0);
    EXPECT_EQ(capture.Create(nullptr, 160, -120), 0);
    EXPECT_EQ(log.Count("InitCaptureGraphBuilder"), 0u);
    EXPECT_EQ(capture.Create(nullptr, 212, 160), 1);  // 636 x 160 = 101760 bytes
}

TEST_F(CaptureTest, StartAndStopFollowThePlatform) {
    EXPECT_EQ(capture.StartCapture(), 0);  // no graph
    EXPECT_EQ(capture.StopCapture(), 0);
    AddCamera("Cam");
    CreateAndStart();
    EXPECT_EQ(capture.StopCapture(), 1);
    const auto frame = capture_testing::RandomFrame(320, 240, 1);
    EXPECT_FALSE(platform.Deliver(1.0, frame.data(), static_cast<long>(frame.size())));
    EXPECT_EQ(capture.StartCapture(), 1);
    EXPECT_TRUE(platform.Deliver(1.0, frame.data(), static_cast<long>(frame.size())));
}

TEST_F(CaptureTest, DestroyGraphReleasesEverythingAndEmptiesTheRing) {
    AddCamera("Cam");
    CreateAndStart();
    const auto frame = capture_testing::RandomFrame(320, 240, 1);
    ASSERT_TRUE(platform.Deliver(1.0, frame.data(), static_cast<long>(frame.size())));

    EXPECT_EQ(capture.DestroyGraph(), 1);
    EXPECT_EQ(platform.LiveObjects(), 0);
    uint32_t length = 12345;
    EXPECT_EQ(capture.GetFrame(&length), nullptr);
    EXPECT_EQ(length, 12345u);
    EXPECT_STREQ(capture.GetDeviceName(), "Cam");  // the choice outlives the graph
    EXPECT_EQ(capture.StartCapture(), 0);
}

TEST_F(CaptureTest, CreateAfterAStoppedGraphReleasesTheOldOne) {
    AddCamera("Cam");
    CreateAndStart();
    const int oneGraph = platform.LiveObjects();
    EXPECT_EQ(capture.StopCapture(), 1);  // all the engine's Destroy does
    CreateAndStart();
    EXPECT_EQ(platform.LiveObjects(), oneGraph);
    EXPECT_EQ(capture.DestroyGraph(), 1);
    EXPECT_EQ(platform.LiveObjects(), 0);
}

TEST_F(CaptureTest, CallbackInterfaceAnswersNothingAndCountsNothing) {
    void* out = &platform;
    EXPECT_EQ(capture.QueryInterface(IID_IUnknown, &out), E_FAIL);
    EXPECT_EQ(capture.QueryInterface(media::ISampleGrabberCB::iid, &out), E_FAIL);
    EXPECT_EQ(out, &platform);
    EXPECT_EQ(capture.AddRef(), 0u);
    EXPECT_EQ(capture.Release(), 0u);
    EXPECT_EQ(capture.SampleCB(1.0, nullptr), 0);
}

}  // namespace

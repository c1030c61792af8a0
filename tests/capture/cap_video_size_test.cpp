// Asking the camera for the requested size, and the fallback on its
// capability list, on the fake platform.
#include "tests/capture/capture_fixture.h"

namespace {

using capture_testing::CaptureTest;
using fake_media::Format;

class VideoSizeTest : public CaptureTest {
protected:
    VideoSizeTest() { AddCamera("Cam"); }

    fake_media::CameraScript& Camera() { return platform.cameras[0]; }
    void RefuseEverything() {
        Camera().accepts = [](const Format&) { return false; };
    }
    void ListCapabilities(std::vector<Format> formats) {
        for (const Format& format : formats) Camera().capabilities.emplace_back(format);
    }
    std::vector<Format> SetFormatsAfterCreate() {
        EXPECT_EQ(capture.Create(nullptr, 160, 120), 1);
        return platform.setFormatCalls;
    }

    static constexpr Format kRequest{160, 120, 400000};
};

TEST_F(VideoSizeTest, CameraThatAcceptsTheRequestGetsOneSetFormat) {
    ListCapabilities({{640, 480, 333333}});
    EXPECT_EQ(SetFormatsAfterCreate(), std::vector<Format>{kRequest});
    EXPECT_EQ(capture.InitVideoSize(160, 120), S_OK);
}

TEST_F(VideoSizeTest, RefusedRequestFallsBackOnTheSmallestCapabilityOfTheSameShape) {
    RefuseEverything();
    ListCapabilities({{640, 480, 333333}, {352, 288, 333333}, {320, 240, 333333}, {160, 120, 333333}});
    // 160 x 120 is chosen; 33.3 ms is faster than 25 frames per second.
    EXPECT_EQ(SetFormatsAfterCreate(), (std::vector<Format>{kRequest, kRequest}));
    EXPECT_EQ(capture.InitVideoSize(160, 120), E_FAIL);  // the refusal of the request
}

TEST_F(VideoSizeTest, LargerCapabilityIsChosenAndItsFramesScaled) {
    Camera().accepts = [](const Format& f) { return f.width == 320; };
    ListCapabilities({{640, 480, 333333}, {320, 240, 333333}});
    EXPECT_EQ(SetFormatsAfterCreate(), (std::vector<Format>{kRequest, {320, 240, 400000}}));
    ASSERT_EQ(capture.StartCapture(), 1);
    auto frame = capture_testing::RandomFrame(320, 240, 3);
    platform.Deliver(1.0, frame.data(), static_cast<long>(frame.size()));
    const auto stored = TakeFrame();
    ASSERT_TRUE(stored);
    EXPECT_EQ(stored->size(), 57600u);
}

TEST_F(VideoSizeTest, WideScreenOnlyCameraGetsNoSecondSetFormat) {
    RefuseEverything();
    ListCapabilities({{1280, 720, 333333}, {640, 360, 333333}});
    EXPECT_EQ(SetFormatsAfterCreate(), std::vector<Format>{kRequest});
}

TEST_F(VideoSizeTest, EqualAreasGoToTheLowerIndexAndLongerIntervalsStay) {
    RefuseEverything();
    ListCapabilities({{640, 480, 333333}, {320, 240, 666666}, {320, 240, 500000}});
    EXPECT_EQ(SetFormatsAfterCreate(), (std::vector<Format>{kRequest, {320, 240, 666666}}));
}

TEST_F(VideoSizeTest, AreaLimitExcludesHugeCapabilities) {
    RefuseEverything();
    ListCapabilities({{2560, 1920, 333333}, {2432, 1824, 1000000}});  // 4915200 and 4435968 pixels
    EXPECT_EQ(SetFormatsAfterCreate(), (std::vector<Format>{kRequest, {2432, 1824, 1000000}}));
}

TEST_F(VideoSizeTest, UnreadableCapabilitiesAreNeverChosen) {
    RefuseEverything();
    Camera().capabilities = {std::nullopt, Format{0, 0, 0}, Format{640, 480, 333333}};
    EXPECT_EQ(SetFormatsAfterCreate(), (std::vector<Format>{kRequest, {640, 480, 400000}}));
}

TEST_F(VideoSizeTest, CapabilityListNeedsRecordsOf128Bytes) {
    RefuseEverything();
    ListCapabilities({{320, 240, 333333}});
    Camera().capabilityRecordSize = 120;
    EXPECT_EQ(SetFormatsAfterCreate(), std::vector<Format>{kRequest});
}

TEST_F(VideoSizeTest, OnlyTheFirst128CapabilitiesCount) {
    RefuseEverything();
    Camera().capabilities.assign(128, Format{1280, 720, 333333});
    ListCapabilities({{320, 240, 333333}});
    EXPECT_EQ(SetFormatsAfterCreate(), std::vector<Format>{kRequest});
}

TEST_F(VideoSizeTest, FormatWithoutVideoInformationIsKept) {
    Camera().current = std::nullopt;
    EXPECT_TRUE(SetFormatsAfterCreate().empty());
}

TEST_F(VideoSizeTest, StreamConfigurationIsAlsoFoundOnAnInterleavedPin) {
    Camera().streamConfig = fake_media::StreamConfigPin::kInterleaved;
    EXPECT_EQ(SetFormatsAfterCreate(), std::vector<Format>{kRequest});
}

TEST_F(VideoSizeTest, CameraWithoutStreamConfigurationKeepsItsFormat) {
    Camera().streamConfig = fake_media::StreamConfigPin::kNone;
    EXPECT_TRUE(SetFormatsAfterCreate().empty());
    EXPECT_EQ(capture.InitVideoSize(160, 120), E_FAIL);
}

TEST_F(VideoSizeTest, NothingToAskWithoutAGraph) { EXPECT_EQ(capture.InitVideoSize(160, 120), E_FAIL); }

}  // namespace

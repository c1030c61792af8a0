// The camera's settings: driver dialogs or property pages, on the fake platform.
#include "tests/capture/capture_fixture.h"

#include "tests/support/gbk.h"

namespace {

using capture_testing::CaptureTest;

const auto kParent = reinterpret_cast<HWND>(0x1234);

class PropertyPageTest : public CaptureTest {
protected:
    PropertyPageTest() { AddCamera("Cam"); }
    fake_media::CameraScript& Camera() { return platform.cameras[0]; }
};

TEST_F(PropertyPageTest, NothingToShowWithoutAGraph) {
    EXPECT_EQ(capture.HasPropertyPage(media::VfwCaptureDialog_Source), 0);
    EXPECT_EQ(capture.ShowPropertyPage(kParent, media::VfwCaptureDialog_Source), 0);
}

TEST_F(PropertyPageTest, CameraWithoutDialogsOrPagesShowsNothing) {
    ASSERT_EQ(capture.Create(nullptr, 160, 120), 1);
    EXPECT_EQ(capture.HasPropertyPage(media::VfwCaptureDialog_Format), 0);
    EXPECT_EQ(capture.ShowPropertyPage(kParent, media::VfwCaptureDialog_Format), 0);
    EXPECT_TRUE(platform.propertyFrames.empty());
}

TEST_F(PropertyPageTest, PropertyPagesOpenInAFrameCaptionedInGbk) {
    Camera().hasPropertyPages = true;
    Camera().propertyPageCount = 2;
    CreateAndStart();
    EXPECT_EQ(capture.HasPropertyPage(media::VfwCaptureDialog_Display), 1);
    EXPECT_EQ(capture.ShowPropertyPage(kParent, media::VfwCaptureDialog_Display), 1);
    ASSERT_EQ(platform.propertyFrames.size(), 1u);
    const auto& frame = platform.propertyFrames[0];
    EXPECT_EQ(frame.parent, kParent);
    EXPECT_EQ(frame.x, 30);
    EXPECT_EQ(frame.y, 30);
    EXPECT_EQ(frame.caption, testing_support::Gbk("视频调节"));
    EXPECT_EQ(frame.objectCount, 1u);
    EXPECT_NE(frame.object, nullptr);
    EXPECT_EQ(frame.pageCount, 2u);
    EXPECT_EQ(frame.locale, 0u);
    // The graph keeps running behind the frame.
    const auto bytes = capture_testing::RandomFrame(160, 120, 1);
    EXPECT_TRUE(platform.Deliver(1.0, bytes.data(), static_cast<long>(bytes.size())));

    platform.propertyFrameResult = E_FAIL;
    EXPECT_EQ(capture.ShowPropertyPage(kParent, media::VfwCaptureDialog_Display), 0);
}

TEST_F(PropertyPageTest, PageListWithoutPagesIsNoPropertyPage) {
    Camera().hasPropertyPages = true;
    Camera().propertyPageCount = 0;
    ASSERT_EQ(capture.Create(nullptr, 160, 120), 1);
    EXPECT_EQ(capture.HasPropertyPage(media::VfwCaptureDialog_Source), 0);
    EXPECT_TRUE(platform.propertyFrames.empty());
}

TEST_F(PropertyPageTest, DriverDialogsComeFirstAndPauseCapture) {
    Camera().hasDriverDialogs = true;
    Camera().hasPropertyPages = true;
    CreateAndStart();
    const int runsBefore = platform.runCalls;
    EXPECT_EQ(capture.HasPropertyPage(media::VfwCaptureDialog_Source), 1);
    EXPECT_EQ(capture.ShowPropertyPage(kParent, media::VfwCaptureDialog_Source), 1);
    EXPECT_EQ(platform.shownDialogs, std::vector<int>{media::VfwCaptureDialog_Source});
    EXPECT_TRUE(platform.propertyFrames.empty());
    // Stopped for the dialog, running again after it.
    EXPECT_EQ(platform.runCalls, runsBefore + 1);
    const auto bytes = capture_testing::RandomFrame(160, 120, 1);
    EXPECT_TRUE(platform.Deliver(1.0, bytes.data(), static_cast<long>(bytes.size())));
}

TEST_F(PropertyPageTest, DriverDialogOfAStoppedGraphLeavesItStopped) {
    Camera().hasDriverDialogs = true;
    ASSERT_EQ(capture.Create(nullptr, 160, 120), 1);
    const int runsBefore = platform.runCalls;
    EXPECT_EQ(capture.ShowPropertyPage(kParent, media::VfwCaptureDialog_Format), 1);
    EXPECT_EQ(platform.runCalls, runsBefore);
}

TEST_F(PropertyPageTest, MissingOrFailingDriverDialog) {
    Camera().hasDriverDialogs = true;
    Camera().hasDialogResult = E_FAIL;
    ASSERT_EQ(capture.Create(nullptr, 160, 120), 1);
    EXPECT_EQ(capture.HasPropertyPage(media::VfwCaptureDialog_Display), 0);
    EXPECT_EQ(capture.ShowPropertyPage(kParent, media::VfwCaptureDialog_Display), 1);  // nothing to show is fine
    EXPECT_TRUE(platform.shownDialogs.empty());

    Camera().hasDialogResult = S_FALSE;
    Camera().showDialogResult = E_FAIL;
    EXPECT_EQ(capture.HasPropertyPage(media::VfwCaptureDialog_Display), 1);
    EXPECT_EQ(capture.ShowPropertyPage(kParent, media::VfwCaptureDialog_Display), 0);
}

}  // namespace

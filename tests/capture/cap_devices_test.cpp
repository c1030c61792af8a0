// Choosing the camera: the walk of EnumDevice, the engine's device
// operations and the stand-alone enumerator, on the fake platform.
#include "tests/capture/capture_fixture.h"

#include "platform/media/media_devices.h"

#include <utility>

namespace {

using capture_testing::CaptureTest;
using capture_testing::NameCollector;
using fake_media::CameraScript;

TEST_F(CaptureTest, CameraThatFailsToRunIsSkippedAndTheNextOneUsed) {
    AddCamera("Broken");
    AddCamera("Working");
    platform.cameras[0].runFails = true;

    EXPECT_EQ(capture.Create(nullptr, 160, 120), 1);
    EXPECT_STREQ(capture.GetDeviceName(), "Working");
    EXPECT_EQ(log.Count("Loop 1"), 1u);
    EXPECT_EQ(log.Count("Loop 2"), 1u);
    EXPECT_EQ(log.Count("Broken,Invalid"), 1u);
    EXPECT_EQ(log.Count("Working,AddFilter"), 1u);
}

TEST_F(CaptureTest, NoCameraThatRunsEndsCreateWhenNoneIsLeft) {
    AddCamera("A");
    AddCamera("B");
    platform.cameras[0].runFails = platform.cameras[1].runFails = true;

    EXPECT_EQ(capture.Create(nullptr, 160, 120), 0);
    EXPECT_EQ(log.Count("Loop 3"), 1u);
    EXPECT_EQ(log.Count("Loop 4"), 0u);
    EXPECT_EQ(capture.GetFrame(nullptr), nullptr);
}

// A failing camera with a name longer than m_szDevice keeps must still be
// recognised as failed, or Create would try it forever.
TEST_F(CaptureTest, LongNamedCameraThatFailsIsNotTriedAgain) {
    const std::string longName(300, 'n');
    AddCamera(longName);
    platform.cameras[0].runFails = true;
    AddCamera("Next");

    EXPECT_EQ(capture.Create(nullptr, 160, 120), 1);
    EXPECT_STREQ(capture.GetDeviceName(), "Next");
    EXPECT_EQ(log.Count(longName + ",Invalid"), 1u);
}

TEST_F(CaptureTest, DescriptionNamesTheCameraBeforeFriendlyName) {
    CameraScript both;
    both.properties = {{media::kPropertyDescription, "Described"}, {media::kPropertyFriendlyName, "Friendly"}};
    platform.cameras.push_back(both);

    EXPECT_EQ(capture.Create(nullptr, 160, 120), 1);
    EXPECT_STREQ(capture.GetDeviceName(), "Described");
}

TEST_F(CaptureTest, CamerasWithoutNameAreInvisibleEverywhere) {
    CameraScript nameless;
    nameless.properties = {{"DevicePath", "/dev/video9"}};
    platform.cameras.push_back(nameless);
    CameraScript noBag = CameraScript::Named("Hidden");
    noBag.storageFails = true;
    platform.cameras.push_back(noBag);
    AddCamera("Visible");

    NameCollector names;
    EXPECT_EQ(capture.EnumDevices(&names), 1);
    EXPECT_EQ(names.names, (std::vector<std::optional<std::string>>{"Visible"}));
    EXPECT_EQ(capture.Create(nullptr, 160, 120), 1);
    EXPECT_STREQ(capture.GetDeviceName(), "Visible");
}

// The host hears of a name property without text as a null name; Create
// cannot choose such a camera and passes over it.
TEST_F(CaptureTest, NamePropertyWithoutTextIsReportedAsNullAndNotChosen) {
    CameraScript textless;
    textless.properties = {{media::kPropertyFriendlyName, std::nullopt}};
    platform.cameras.push_back(textless);
    AddCamera("Real");

    NameCollector names;
    capture.EnumDevices(&names);
    EXPECT_EQ(names.names, (std::vector<std::optional<std::string>>{std::nullopt, "Real"}));
    EXPECT_EQ(capture.Create(nullptr, 160, 120), 1);
    EXPECT_STREQ(capture.GetDeviceName(), "Real");
}

TEST_F(CaptureTest, LongNameIsKeptAsItsFirst255Bytes) {
    const std::string longName = std::string(200, 'a') + std::string(100, 'b');
    AddCamera(longName);

    EXPECT_EQ(capture.Create(nullptr, 160, 120), 1);
    EXPECT_EQ(std::string(capture.GetDeviceName()), longName.substr(0, 255));
    EXPECT_EQ(log.Count(longName), 1u);
    // Selecting the kept name finds the camera again.
    EXPECT_EQ(capture.SelectDevice(capture.GetDeviceName()), 1);
}

TEST_F(CaptureTest, SelectDeviceBeforeCreateIsTheCameraCreateBuilds) {
    AddCamera("First");
    AddCamera("Second");

    EXPECT_EQ(capture.SelectDevice("Second"), 1);
    EXPECT_STREQ(capture.GetDeviceName(), "Second");
    EXPECT_EQ(log.Texts().size(), 0u);
    EXPECT_EQ(capture.Create(nullptr, 160, 120), 1);
    EXPECT_STREQ(capture.GetDeviceName(), "Second");
    EXPECT_EQ(log.Count("First,BindToObject"), 0u);

    // A chosen name no camera has: Create takes the first camera instead.
    EXPECT_EQ(capture.SelectDevice("Missing"), 0) << "a graph exists now: the selection rebuilds it";
    capture.DestroyGraph();
    CCapZephra fresh;
    fresh.SetLogSink(&log);
    EXPECT_EQ(fresh.SelectDevice("Missing"), 1);
    EXPECT_EQ(fresh.Create(nullptr, 160, 120), 1);
    EXPECT_STREQ(fresh.GetDeviceName(), "First");
}

TEST_F(CaptureTest, SelectDeviceRebuildsTheGraphForANameOfAnyCase) {
    AddCamera("First");
    AddCamera("Second Cam");
    ASSERT_EQ(capture.Create(nullptr, 160, 120), 1);
    log.Clear();

    EXPECT_EQ(capture.SelectDevice("SECOND cam"), 1);
    EXPECT_STREQ(capture.GetDeviceName(), "Second Cam");
    EXPECT_EQ(log.Count("Loop 1"), 0u);  // one attempt, no trial run
    EXPECT_EQ(log.Count("Second Cam,AddFilter"), 1u);
    EXPECT_EQ(log.Texts().back(), "InnerCreate return");
    EXPECT_EQ(capture.StartCapture(), 1);
}

TEST_F(CaptureTest, SelectingAnUnknownNameKeepsTheRunningCameraAndSaysSo) {
    AddCamera("Only");
    CreateAndStart();

    EXPECT_EQ(capture.SelectDevice("Missing"), 0);
    EXPECT_EQ(log.Count("SelectDevice Missing failed,back to Only"), 1u);
    EXPECT_STREQ(capture.GetDeviceName(), "Only");
    const auto frame = capture_testing::RandomFrame(160, 120, 1);
    EXPECT_TRUE(platform.Deliver(1.0, frame.data(), static_cast<long>(frame.size()))) << "still running";
    // Destroying what is left releases every platform object.
    capture.DestroyGraph();
    EXPECT_EQ(platform.LiveObjects(), 0);
}

// Step 8 records the name before binding: a camera that cannot be bound
// narrows the rest of the walk to cameras of its name, and Create gives up.
TEST_F(CaptureTest, CameraThatCannotBeBoundEndsCreate) {
    AddCamera("Unbindable");
    platform.cameras[0].bindFails = true;
    AddCamera("Fine");

    EXPECT_EQ(capture.Create(nullptr, 160, 120), 0);
    EXPECT_STREQ(capture.GetDeviceName(), "Unbindable");
    EXPECT_EQ(log.Count("Unbindable,BindToObject"), 1u);
    EXPECT_EQ(log.Count("Fine"), 1u);
    EXPECT_EQ(log.Count("Fine,BindToObject"), 0u);
}

TEST_F(CaptureTest, FilterThatCannotBeAddedIsReleased) {
    AddCamera("Twin");
    platform.cameras[0].addFilterFails = true;
    AddCamera("Twin");

    EXPECT_EQ(capture.Create(nullptr, 160, 120), 1);
    EXPECT_EQ(log.Count("Twin,AddFilter"), 2u);
    capture.DestroyGraph();
    EXPECT_EQ(platform.LiveObjects(), 0);
}

TEST_F(CaptureTest, EnumDevicesResults) {
    NameCollector names;
    EXPECT_EQ(capture.EnumDevices(nullptr), 0);
    EXPECT_EQ(capture.EnumDevices(&names), static_cast<int>(E_FAIL));  // no camera
    platform.failDeviceEnum = true;
    EXPECT_EQ(capture.EnumDevices(&names), 0);
    platform.failDeviceEnum = false;
    AddCamera("One");
    AddCamera("Two");
    EXPECT_EQ(capture.EnumDevices(&names), 1);
    EXPECT_EQ(names.names, (std::vector<std::optional<std::string>>{"One", "Two"}));
    EXPECT_TRUE(log.Texts().empty());
    EXPECT_STREQ(capture.GetDeviceName(), "");
}

class DeviceEnumTest : public ::testing::Test {
protected:
    void AddCamera(const std::string& name) { platform.cameras.push_back(CameraScript::Named(name)); }

    fake_media::FakeMediaPlatform platform;
};

TEST_F(DeviceEnumTest, ReportsNothingBeforeHasDeviceOrGetDeviceCount) {
    AddCamera("One");
    CameraScript nameless;
    platform.cameras.push_back(nameless);
    AddCamera("Two");
    ITavolinDeviceEnum* devices = NewTavolinDeviceEnum();
    ASSERT_NE(devices, nullptr);

    NameCollector names;
    EXPECT_EQ(devices->EnumDevices(1, &names), 0);
    EXPECT_TRUE(names.names.empty());
    EXPECT_EQ(devices->HasDevice(), 1);
    EXPECT_EQ(devices->EnumDevices(7, &names), 1);  // the type plays no part
    EXPECT_EQ(names.names, (std::vector<std::optional<std::string>>{"One", "Two"}));
    EXPECT_EQ(devices->GetDeviceCount(), 2);
    EXPECT_EQ(devices->GetDeviceCount(), 2);  // walks again from the start
    EXPECT_EQ(devices->EnumDevices(1, nullptr), 0);

    EXPECT_EQ(devices->Release(), 0u);
    EXPECT_EQ(platform.LiveObjects(), 0);
}

TEST_F(DeviceEnumTest, ASinkMayReleaseTheListerDuringTheWalk) {
    AddCamera("One");
    AddCamera("Two");
    struct ReleasingSink : NameCollector {
        void OnDeviceName(const char* name) override {
            NameCollector::OnDeviceName(name);
            if (devices) std::exchange(devices, nullptr)->Release();
        }
        ITavolinDeviceEnum* devices = nullptr;
    } names;
    names.devices = NewTavolinDeviceEnum();
    ITavolinDeviceEnum* devices = names.devices;
    ASSERT_EQ(devices->HasDevice(), 1);
    EXPECT_EQ(devices->EnumDevices(1, &names), 1);
    EXPECT_EQ(names.names, (std::vector<std::optional<std::string>>{"One", "Two"}));
    EXPECT_EQ(platform.LiveObjects(), 0);
}

TEST_F(DeviceEnumTest, CountsWithoutCameras) {
    ITavolinDeviceEnum* devices = NewTavolinDeviceEnum();
    EXPECT_EQ(devices->GetDeviceCount(), -1);  // empty category: no enumerator
    EXPECT_EQ(devices->HasDevice(), 0);
    CameraScript nameless;
    platform.cameras.push_back(nameless);
    EXPECT_EQ(devices->GetDeviceCount(), 0);  // an enumerator, but no name
    EXPECT_EQ(devices->HasDevice(), 0);
    devices->Release();

    platform.failDeviceEnum = true;
    devices = NewTavolinDeviceEnum();
    EXPECT_EQ(devices->GetDeviceCount(), -1);
    devices->Release();
    EXPECT_EQ(platform.LiveObjects(), 0);
}

TEST_F(DeviceEnumTest, QueryInterfaceAndReferenceCount) {
    ITavolinDeviceEnum* devices = NewTavolinDeviceEnum();
    void* out = &platform;
    EXPECT_EQ(devices->QueryInterface(IID_ITavolinDeviceEnum, nullptr), E_INVALIDARG);
    EXPECT_EQ(devices->QueryInterface(IID_IUnknown, &out), E_NOINTERFACE);
    EXPECT_EQ(out, &platform);
    EXPECT_EQ(devices->QueryInterface(IID_ITavolinDeviceEnum, &out), S_OK);
    EXPECT_EQ(out, devices);
    EXPECT_EQ(devices->AddRef(), 3u);
    EXPECT_EQ(devices->Release(), 2u);
    EXPECT_EQ(devices->Release(), 1u);
    EXPECT_EQ(devices->Release(), 0u);
}

}  // namespace

// The GStreamer media layer: synthetic cameras, device enumeration, frames
// turned bottom-up, failing cameras and stopping. Real GStreamer threads.
#include "capture/cap_zephra.h"
#include "platform/media/gst/gst_capture_filter.h"
#include "platform/media/media_platform.h"
#include "tests/capture/frame_stamp.h"
#include "tests/capture/name_collector.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace {

using namespace media;
using capture_testing::NameCollector;

constexpr int kWhitePattern = 3;

// A grabber callback that records what arrives on the streaming thread.
class RecordingCallback : public ISampleGrabberCB {
public:
    HRESULT QueryInterface(const IID&, void**) override { return E_NOINTERFACE; }
    ULONG AddRef() override { return 1; }
    ULONG Release() override { return 1; }
    HRESULT SampleCB(double, IMediaSample*) override { return S_OK; }
    HRESULT BufferCB(double time, BYTE* buffer, LONG length) override {
        inside = true;
        {
            std::lock_guard lock(mutex);
            last.assign(buffer, buffer + length);
            times.push_back(time);
        }
        if (dwell.count() > 0) std::this_thread::sleep_for(dwell);
        ++calls;
        inside = false;
        return S_OK;
    }

    std::mutex mutex;
    std::vector<uint8_t> last;
    std::vector<double> times;
    std::atomic<int> calls{0};
    std::atomic<bool> inside{false};
    std::chrono::milliseconds dwell{0};
};

// Graph, grabber and a capture filter around a given source, connected.
class LayerGraph {
public:
    explicit LayerGraph(const char* sourceDescription) {
        EXPECT_EQ(CoCreateInstance(CLSID_FilterGraph, IID_IGraphBuilder, graph.OutVoid()), S_OK);
        GstElement* source = gst_parse_bin_from_description(sourceDescription, TRUE, nullptr);
        camera.reset(GstCaptureFilter::Create(source));
        EXPECT_EQ(CoCreateInstance(CLSID_SampleGrabber, IID_ISampleGrabber, grabber.OutVoid()), S_OK);
        grabber->QueryInterface(IID_IBaseFilter, grabberFilter.OutVoid());
        graph->QueryInterface(IID_IMediaControl, control.OutVoid());
        EXPECT_EQ(graph->AddFilter(camera.get(), "Capture Filter"), S_OK);
        EXPECT_EQ(graph->AddFilter(grabberFilter.Get(), "Grabber"), S_OK);
        ComPtr<IEnumPins> pins;
        grabberFilter->EnumPins(pins.Out());
        ComPtr<IPin> input;
        pins->Next(1, input.Out(), nullptr);
        connected = graph->Connect(camera->OutputPin(), input.Get());
        grabber->SetCallback(&callback, kGrabberCallsBufferCB);
    }
    ~LayerGraph() { control->Stop(); }

    struct Releaser {
        void operator()(GstCaptureFilter* filter) const { filter->Release(); }
    };
    RecordingCallback callback;  // outlives the grabber that calls it
    ComPtr<IGraphBuilder> graph;
    ComPtr<IMediaControl> control;
    ComPtr<ISampleGrabber> grabber;
    ComPtr<IBaseFilter> grabberFilter;
    std::unique_ptr<GstCaptureFilter, Releaser> camera;
    HRESULT connected = E_FAIL;
};

class SyntheticCameraTest : public ::testing::Test {
protected:
    ~SyntheticCameraTest() override { TavolinRemoveSyntheticCameras(); }
};

TEST_F(SyntheticCameraTest, AddingChecksNamesAndArguments) {
    EXPECT_EQ(TavolinAddSyntheticCamera("Cam A", 18, 320, 240, 30, 0), 1);
    EXPECT_EQ(TavolinAddSyntheticCamera("Cam A", 0, 160, 120, 15, 0), 0);  // name taken
    EXPECT_EQ(TavolinAddSyntheticCamera("cam a", 0, 160, 120, 15, TAVOLIN_CAMERA_STAMP_FRAME_NUMBER), 1);
    EXPECT_EQ(TavolinAddSyntheticCamera(nullptr, 0, 160, 120, 15, 0), 0);
    EXPECT_EQ(TavolinAddSyntheticCamera("", 0, 160, 120, 15, 0), 0);
    EXPECT_EQ(TavolinAddSyntheticCamera("Bad", 25, 160, 120, 15, 0), 0);
    EXPECT_EQ(TavolinAddSyntheticCamera("Bad", 0, 0, 120, 15, 0), 0);
    EXPECT_EQ(TavolinAddSyntheticCamera("Bad", 0, 160, 120, 0, 0), 0);
    EXPECT_EQ(TavolinAddSyntheticCamera("Bad", 0, 160, 120, 15, 2), 0);

    CCapZephra capture;
    NameCollector names;
    EXPECT_EQ(capture.EnumDevices(&names), 1);
    EXPECT_EQ(names.names, (std::vector<std::optional<std::string>>{"Cam A", "cam a"}));

    TavolinRemoveSyntheticCameras();
    EXPECT_EQ(capture.EnumDevices(&names), static_cast<int>(E_FAIL));
    ITavolinDeviceEnum* devices = NewTavolinDeviceEnum();
    EXPECT_EQ(devices->GetDeviceCount(), -1);
    EXPECT_EQ(TavolinAddSyntheticCamera("Late", 0, 160, 120, 15, 0), 1);
    EXPECT_EQ(devices->HasDevice(), 1);
    devices->Release();
}

// The top band of the picture holds the stamp; bottom-up rows put it at
// the end of the buffer, and the counter starts at 0 with every run.
TEST_F(SyntheticCameraTest, FramesArriveBottomUpWithStreamTimesAndCountFromZero) {
    ASSERT_EQ(TavolinAddSyntheticCamera("Stamped", kWhitePattern, 176, 144, 30, TAVOLIN_CAMERA_STAMP_FRAME_NUMBER), 1);
    ComPtr<ICreateDevEnum> system;
    ASSERT_EQ(CoCreateInstance(CLSID_SystemDeviceEnum, IID_ICreateDevEnum, system.OutVoid()), S_OK);
    ComPtr<IEnumMoniker> cameras;
    ASSERT_EQ(system->CreateClassEnumerator(CLSID_VideoInputDeviceCategory, cameras.Out(), 0), S_OK);
    ComPtr<IMoniker> device;
    ASSERT_EQ(cameras->Next(1, device.Out(), nullptr), S_OK);

    RecordingCallback callback;
    ComPtr<IGraphBuilder> graph;
    ComPtr<IMediaControl> control;
    ComPtr<IBaseFilter> camera;
    ComPtr<ISampleGrabber> grabber;
    ComPtr<IBaseFilter> grabberFilter;
    CoCreateInstance(CLSID_FilterGraph, IID_IGraphBuilder, graph.OutVoid());
    graph->QueryInterface(IID_IMediaControl, control.OutVoid());
    ASSERT_EQ(device->BindToObject(IID_IBaseFilter, camera.OutVoid()), S_OK);
    CoCreateInstance(CLSID_SampleGrabber, IID_ISampleGrabber, grabber.OutVoid());
    grabber->QueryInterface(IID_IBaseFilter, grabberFilter.OutVoid());
    graph->AddFilter(camera.Get(), "Capture Filter");
    graph->AddFilter(grabberFilter.Get(), "Grabber");
    ComPtr<IEnumPins> outputs;
    ComPtr<IEnumPins> inputs;
    ComPtr<IPin> output;
    ComPtr<IPin> input;
    camera->EnumPins(outputs.Out());
    outputs->Next(1, output.Out(), nullptr);
    grabberFilter->EnumPins(inputs.Out());
    inputs->Next(1, input.Out(), nullptr);
    ASSERT_EQ(graph->Connect(output.Get(), input.Get()), S_OK);
    AM_MEDIA_TYPE connected{};
    ASSERT_EQ(grabber->GetConnectedMediaType(&connected), S_OK);
    EXPECT_TRUE(IsEqualGUID(connected.subtype, MEDIASUBTYPE_RGB24));
    EXPECT_EQ(VideoInfoOf(connected)->bmiHeader.biWidth, 176);
    EXPECT_EQ(VideoInfoOf(connected)->bmiHeader.biHeight, 144);
    FreeMediaType(connected);

    grabber->SetCallback(&callback, kGrabberCallsBufferCB);
    for (int run = 0; run < 2; ++run) {
        {
            std::lock_guard lock(callback.mutex);
            callback.times.clear();
        }
        callback.calls = 0;
        ASSERT_EQ(control->Run(), S_OK);
        while (callback.calls < 3) std::this_thread::sleep_for(std::chrono::milliseconds(5));
        ASSERT_EQ(control->Stop(), S_OK);

        std::lock_guard lock(callback.mutex);
        ASSERT_EQ(callback.last.size(), static_cast<size_t>(528 * 144));
        const uint8_t* frame = callback.last.data();
        // Picture top (last rows in memory): the stamp's leading zero bits are black.
        EXPECT_FALSE(capture_testing::IsBright(capture_testing::StampRow(frame, 176, 144)));
        // Picture bottom (first row in memory): the white pattern.
        EXPECT_TRUE(capture_testing::IsBright(frame + 3 * 5));
        EXPECT_EQ(capture_testing::ReadFrameStamp(frame, 176, 144), static_cast<uint32_t>(callback.times.size() - 1));
        EXPECT_LT(callback.times.front(), 0.5);  // stream time restarts with each run
        for (size_t i = 1; i < callback.times.size(); ++i) EXPECT_GT(callback.times[i], callback.times[i - 1]);
    }
}

TEST(GstMediaLayer, StreamingErrorAfterRunMakesRunFail) {
    LayerGraph layer(
        "videotestsrc is-live=true ! capsfilter caps=video/x-raw,width=160,height=120 ! identity error-after=1");
    ASSERT_EQ(layer.connected, S_OK);
    EXPECT_EQ(layer.control->Run(), E_FAIL);
    EXPECT_EQ(layer.callback.calls, 0);
}

TEST(GstMediaLayer, SourceThatCannotStartMakesRunFailAtOnce) {
    LayerGraph layer(
        "videotestsrc is-live=true ! capsfilter caps=video/x-raw,width=160,height=120 "
        "( filesrc location=/nonexistent/tavolin-camera ! fakesink )");
    ASSERT_EQ(layer.connected, S_OK);
    EXPECT_EQ(layer.control->Run(), E_FAIL);
}

TEST(GstMediaLayer, DeviceThatCannotBeOpenedCannotBeConnected) {
    LayerGraph layer("v4l2src device=/dev/tavolin-no-such-camera");
    EXPECT_TRUE(FAILED(layer.connected));
}

TEST(GstMediaLayer, StopReturnsOnlyWhenNoCallbackRuns) {
    LayerGraph layer("videotestsrc is-live=true ! capsfilter caps=video/x-raw,width=160,height=120,framerate=60/1");
    ASSERT_EQ(layer.connected, S_OK);
    layer.callback.dwell = std::chrono::milliseconds(20);
    ASSERT_EQ(layer.control->Run(), S_OK);
    while (!layer.callback.inside) std::this_thread::yield();
    ASSERT_EQ(layer.control->Stop(), S_OK);
    EXPECT_FALSE(layer.callback.inside);
    const int calls = layer.callback.calls;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(layer.callback.calls, calls);
}

TEST(GstMediaLayer, StreamConfigurationListsAndSetsTheCameraFormat) {
    LayerGraph layer(
        "videotestsrc ! capsfilter caps=\"video/x-raw,format=YUY2,width=320,height=240,framerate={30/1,15/1}\"");
    IAMStreamConfig* config = layer.camera.get();
    int count = 0;
    int recordSize = 0;
    ASSERT_EQ(config->GetNumberOfCapabilities(&count, &recordSize), S_OK);
    EXPECT_EQ(count, 1);
    EXPECT_EQ(recordSize, 128);
    AM_MEDIA_TYPE* type = nullptr;
    VIDEO_STREAM_CONFIG_CAPS record;
    ASSERT_EQ(config->GetStreamCaps(0, &type, reinterpret_cast<BYTE*>(&record)), S_OK);
    EXPECT_EQ(VideoInfoOf(*type)->bmiHeader.biWidth, 320);
    EXPECT_EQ(VideoInfoOf(*type)->AvgTimePerFrame, 333333);
    // 25 frames per second rounds to the nearest rate offered; sizes must exist.
    VideoInfoOf(*type)->AvgTimePerFrame = 400000;
    EXPECT_EQ(config->SetFormat(type), S_OK);
    VideoInfoOf(*type)->bmiHeader.biWidth = 160;
    EXPECT_EQ(config->SetFormat(type), E_FAIL);
    DeleteMediaType(type);
    ASSERT_EQ(config->GetFormat(&type), S_OK);
    EXPECT_EQ(VideoInfoOf(*type)->AvgTimePerFrame, 333333);
    DeleteMediaType(type);
}

}  // namespace

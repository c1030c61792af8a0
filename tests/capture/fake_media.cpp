#include "tests/capture/fake_media.h"

#include "platform/media/media_pins.h"

#include <cstring>

using namespace media;

namespace fake_media {

struct FakeMediaPlatform::Graph {
    virtual ISampleGrabberCB* Callback() const = 0;

protected:
    ~Graph() = default;
};

namespace {

constexpr HRESULT REGDB_E_CLASSNOTREG = static_cast<HRESULT>(0x80040154u);

AM_MEDIA_TYPE* NewVideoType(const Format& format) {
    AM_MEDIA_TYPE* type = CreateVideoInfoMediaType(MEDIASUBTYPE_RGB24);
    VIDEOINFOHEADER* video = VideoInfoOf(*type);
    video->AvgTimePerFrame = format.interval;
    video->bmiHeader.biWidth = format.width;
    video->bmiHeader.biHeight = format.height;
    video->bmiHeader.biBitCount = 24;
    video->bmiHeader.biSizeImage = static_cast<uint32_t>(Stride24(format.width) * format.height);
    return type;
}

template <class... Interfaces>
class FakeObject : public MediaObject<Interfaces...> {
public:
    explicit FakeObject(FakeMediaPlatform& platform) : m_platform(platform) { m_platform.ObjectCreated(); }

protected:
    ~FakeObject() override { m_platform.ObjectDestroyed(); }
    FakeMediaPlatform& m_platform;
};

class FakeCaptureFilter final
    : public FakeObject<IBaseFilter, IAMStreamConfig, IAMVfwCaptureDialogs, ISpecifyPropertyPages> {
public:
    FakeCaptureFilter(FakeMediaPlatform& platform, const CameraScript& script) : FakeObject(platform), script(script) {}

    HRESULT QueryInterface(const IID& iid, void** out) override {
        const bool absent = (IsEqualGUID(iid, IID_IAMVfwCaptureDialogs) && !script.hasDriverDialogs) ||
                            (IsEqualGUID(iid, IID_ISpecifyPropertyPages) && !script.hasPropertyPages);
        if (absent) {
            *out = nullptr;
            return E_NOINTERFACE;
        }
        return FakeObject::QueryInterface(iid, out);
    }

    HRESULT EnumPins(IEnumPins** pins) override {
        *pins = new PinEnumerator({&output});
        return S_OK;
    }

    HRESULT GetFormat(AM_MEDIA_TYPE** type) override {
        if (script.current) {
            *type = NewVideoType(*script.current);
        } else {
            *type = static_cast<AM_MEDIA_TYPE*>(CoTaskMemAlloc(sizeof(AM_MEDIA_TYPE)));
            **type = AM_MEDIA_TYPE{};
        }
        return S_OK;
    }

    HRESULT SetFormat(AM_MEDIA_TYPE* type) override {
        const VIDEOINFOHEADER* video = VideoInfoOf(*type);
        const Format format{video->bmiHeader.biWidth, video->bmiHeader.biHeight, video->AvgTimePerFrame};
        m_platform.setFormatCalls.push_back(format);
        if (script.accepts && !script.accepts(format)) return E_FAIL;
        m_delivered = format;
        return S_OK;
    }

    HRESULT GetNumberOfCapabilities(int* count, int* recordSize) override {
        *count = static_cast<int>(script.capabilities.size());
        *recordSize = script.capabilityRecordSize;
        return S_OK;
    }

    HRESULT GetStreamCaps(int index, AM_MEDIA_TYPE** type, BYTE* record) override {
        if (index < 0 || static_cast<size_t>(index) >= script.capabilities.size()) return E_INVALIDARG;
        if (!script.capabilities[index]) return E_FAIL;
        std::memset(record, 0, sizeof(VIDEO_STREAM_CONFIG_CAPS));
        *type = NewVideoType(*script.capabilities[index]);
        return S_OK;
    }

    HRESULT HasDialog(int) override { return script.hasDialogResult; }

    HRESULT ShowDialog(int dialog, HWND) override {
        m_platform.shownDialogs.push_back(dialog);
        return script.showDialogResult;
    }

    HRESULT GetPages(CAUUID* pages) override {
        pages->cElems = static_cast<uint32_t>(script.propertyPageCount);
        pages->pElems = static_cast<GUID*>(CoTaskMemAlloc(sizeof(GUID) * (script.propertyPageCount + 1)));
        return S_OK;
    }

    // What the camera delivers: the last accepted format, else its own.
    Format Delivered() const {
        if (m_delivered) return *m_delivered;
        return script.current.value_or(Format{0, 0, 0});
    }

    const CameraScript& script;
    MediaPin output{this, PINDIR_OUTPUT};

private:
    std::optional<Format> m_delivered;
};

class FakeGrabber final : public FakeObject<ISampleGrabber, IBaseFilter> {
public:
    using FakeObject::FakeObject;
    ~FakeGrabber() override {
        if (m_callback) m_callback->Release();
    }

    HRESULT SetOneShot(BOOL) override { return S_OK; }
    HRESULT SetBufferSamples(BOOL) override { return S_OK; }
    HRESULT SetMediaType(const AM_MEDIA_TYPE* type) override {
        return IsEqualGUID(type->subtype, MEDIASUBTYPE_RGB24) ? S_OK : E_INVALIDARG;
    }
    HRESULT GetConnectedMediaType(AM_MEDIA_TYPE* type) override {
        if (!m_connected) return E_FAIL;
        AM_MEDIA_TYPE* connected = NewVideoType(*m_connected);
        *type = *connected;
        CoTaskMemFree(connected);
        return S_OK;
    }
    HRESULT SetCallback(ISampleGrabberCB* callback, LONG) override {
        if (callback) callback->AddRef();
        if (m_callback) m_callback->Release();
        m_callback = callback;
        return S_OK;
    }
    HRESULT EnumPins(IEnumPins** pins) override {
        *pins = new PinEnumerator({&m_input, &m_output});
        return S_OK;
    }

    void Connect(const Format& format) { m_connected = format; }
    ISampleGrabberCB* Callback() const { return m_callback; }

private:
    MediaPin m_input{this, PINDIR_INPUT};
    MediaPin m_output{this, PINDIR_OUTPUT};
    std::optional<Format> m_connected;
    ISampleGrabberCB* m_callback = nullptr;
};

template <class Filter>
Filter* OwnerOf(IPin* pin) {
    auto* ours = dynamic_cast<MediaPin*>(pin);
    return ours ? dynamic_cast<Filter*>(ours->Owner()) : nullptr;
}

class FakeGraph final : public FakeObject<IGraphBuilder, IMediaControl>, public FakeMediaPlatform::Graph {
public:
    using FakeObject::FakeObject;
    ~FakeGraph() override {
        m_platform.SetRunning(this, false);
        for (IBaseFilter* filter : m_filters) filter->Release();
    }

    HRESULT AddFilter(IBaseFilter* filter, const char*) override {
        auto* camera = dynamic_cast<FakeCaptureFilter*>(filter);
        if (camera && camera->script.addFilterFails) return E_FAIL;
        filter->AddRef();
        m_filters.push_back(filter);
        return S_OK;
    }

    HRESULT Connect(IPin* output, IPin* input) override {
        auto* camera = OwnerOf<FakeCaptureFilter>(output);
        auto* grabber = OwnerOf<FakeGrabber>(input);
        if (!camera || !grabber) return E_INVALIDARG;
        if (camera->script.connectFails) return E_FAIL;
        grabber->Connect(camera->Delivered());
        m_camera = camera;
        m_grabber = grabber;
        return S_OK;
    }

    HRESULT Run() override {
        ++m_platform.runCalls;
        if (!m_grabber || m_camera->script.runFails) return E_FAIL;
        m_platform.SetRunning(this, true);
        return S_OK;
    }

    HRESULT Stop() override {
        ++m_platform.stopCalls;
        m_platform.SetRunning(this, false);
        return S_OK;
    }

    HRESULT StopWhenReady() override { return Stop(); }

    ISampleGrabberCB* Callback() const override { return m_grabber->Callback(); }

private:
    std::vector<IBaseFilter*> m_filters;
    FakeCaptureFilter* m_camera = nullptr;
    FakeGrabber* m_grabber = nullptr;
};

class FakeGraphBuilder final : public FakeObject<ICaptureGraphBuilder2> {
public:
    using FakeObject::FakeObject;
    ~FakeGraphBuilder() override { SetFiltergraph(nullptr); }

    HRESULT SetFiltergraph(IGraphBuilder* graph) override {
        if (graph) graph->AddRef();
        if (m_graph) m_graph->Release();
        m_graph = graph;
        return S_OK;
    }

    HRESULT FindInterface(const GUID*, const GUID* type, IBaseFilter* filter, const IID& iid, void** out) override {
        *out = nullptr;
        auto* camera = dynamic_cast<FakeCaptureFilter*>(filter);
        if (!camera) return E_FAIL;
        if (IsEqualGUID(iid, IID_IAMStreamConfig)) {
            const StreamConfigPin on =
                IsEqualGUID(*type, MEDIATYPE_Video) ? StreamConfigPin::kVideo : StreamConfigPin::kInterleaved;
            if (camera->script.streamConfig != on) return E_FAIL;
        }
        return camera->QueryInterface(iid, out);
    }

private:
    IGraphBuilder* m_graph = nullptr;
};

class FakeMoniker final : public FakeObject<IMoniker> {
public:
    FakeMoniker(FakeMediaPlatform& platform, const CameraScript& script) : FakeObject(platform), m_script(script) {}

    HRESULT BindToStorage(const IID& iid, void** out) override {
        *out = nullptr;
        if (m_script.storageFails) return E_FAIL;
        auto* bag = new PropertyBag(m_script.properties);
        const HRESULT result = bag->QueryInterface(iid, out);
        bag->Release();
        return result;
    }

    HRESULT BindToObject(const IID& iid, void** out) override {
        *out = nullptr;
        if (m_script.bindFails) return E_FAIL;
        auto* filter = new FakeCaptureFilter(m_platform, m_script);
        const HRESULT result = filter->QueryInterface(iid, out);
        filter->Release();
        return result;
    }

private:
    const CameraScript& m_script;
};

class FakeDeviceEnum final : public FakeObject<ICreateDevEnum> {
public:
    using FakeObject::FakeObject;

    HRESULT CreateClassEnumerator(const CLSID& category, IEnumMoniker** out, DWORD) override {
        *out = nullptr;
        if (!IsEqualGUID(category, CLSID_VideoInputDeviceCategory) || m_platform.cameras.empty()) return S_FALSE;
        std::vector<IMoniker*> devices;
        for (const CameraScript& script : m_platform.cameras) devices.push_back(new FakeMoniker(m_platform, script));
        *out = new MonikerEnumerator(std::move(devices));
        return S_OK;
    }
};

template <class Object>
HRESULT Hand(Object* object, const IID& iid, void** out) {
    const HRESULT result = object->QueryInterface(iid, out);
    object->Release();
    return result;
}

}  // namespace

CameraScript CameraScript::Named(const std::string& name) {
    CameraScript script;
    script.properties = {{kPropertyFriendlyName, name}};
    return script;
}

FakeMediaPlatform::FakeMediaPlatform() { SetMediaPlatformForTesting(this); }

FakeMediaPlatform::~FakeMediaPlatform() { SetMediaPlatformForTesting(nullptr); }

HRESULT FakeMediaPlatform::CreateInstance(const CLSID& classId, const IID& iid, void** out) {
    if (IsEqualGUID(classId, CLSID_CaptureGraphBuilder2)) {
        return failGraphBuilder ? E_FAIL : Hand(new FakeGraphBuilder(*this), iid, out);
    }
    if (IsEqualGUID(classId, CLSID_FilterGraph)) {
        return failFilterGraph ? E_FAIL : Hand(new FakeGraph(*this), iid, out);
    }
    if (IsEqualGUID(classId, CLSID_SampleGrabber)) {
        return failSampleGrabber ? E_FAIL : Hand(new FakeGrabber(*this), iid, out);
    }
    if (IsEqualGUID(classId, CLSID_SystemDeviceEnum)) {
        return failDeviceEnum ? E_FAIL : Hand(new FakeDeviceEnum(*this), iid, out);
    }
    return REGDB_E_CLASSNOTREG;
}

HRESULT FakeMediaPlatform::CreatePropertyFrame(HWND parent, int x, int y, const char* caption, ULONG objectCount,
                                               ITavolinUnknown** objects, ULONG pageCount, const CLSID*, LCID locale) {
    propertyFrames.push_back({parent, x, y, caption, objectCount, objects[0], pageCount, locale});
    return propertyFrameResult;
}

bool FakeMediaPlatform::Deliver(double sampleTime, const uint8_t* data, long length) {
    std::lock_guard lock(m_deliveryLock);
    ISampleGrabberCB* callback = m_running ? m_running->Callback() : nullptr;
    if (!callback) return false;
    callback->BufferCB(sampleTime, const_cast<BYTE*>(data), static_cast<LONG>(length));
    return true;
}

int FakeMediaPlatform::LiveObjects() const {
    std::lock_guard lock(m_lock);
    return m_liveObjects;
}

void FakeMediaPlatform::ObjectCreated() {
    std::lock_guard lock(m_lock);
    ++m_liveObjects;
}

void FakeMediaPlatform::ObjectDestroyed() {
    std::lock_guard lock(m_lock);
    --m_liveObjects;
}

void FakeMediaPlatform::SetRunning(Graph* graph, bool running) {
    std::lock_guard lock(m_deliveryLock);
    if (running) {
        m_running = graph;
    } else if (m_running == graph) {
        m_running = nullptr;
    }
}

}  // namespace fake_media

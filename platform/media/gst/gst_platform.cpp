#include "platform/media/gst/gst_platform.h"

#include "platform/media/gst/gst_device_enum.h"
#include "platform/media/gst/gst_filter_graph.h"
#include "platform/media/gst/gst_sample_grabber.h"

#include <gst/gst.h>

#include <mutex>

namespace media {

namespace {

constexpr HRESULT REGDB_E_CLASSNOTREG = static_cast<HRESULT>(0x80040154u);

bool GstInitialized() {
    static std::once_flag once;
    static bool initialized = false;
    std::call_once(once, [] { initialized = gst_init_check(nullptr, nullptr, nullptr); });
    return initialized;
}

template <class Object>
HRESULT Hand(Object* object, const IID& iid, void** out) {
    if (!object) return E_FAIL;  // an element GStreamer could not make
    const HRESULT result = object->QueryInterface(iid, out);
    object->Release();
    return result;
}

class GstPlatform final : public IMediaPlatform {
public:
    HRESULT CreateInstance(const CLSID& classId, const IID& iid, void** out) override {
        if (!GstInitialized()) return E_FAIL;
        if (IsEqualGUID(classId, CLSID_FilterGraph)) return Hand(GstFilterGraph::Create(), iid, out);
        if (IsEqualGUID(classId, CLSID_CaptureGraphBuilder2)) return Hand(new GstCaptureGraphBuilder, iid, out);
        if (IsEqualGUID(classId, CLSID_SampleGrabber)) return Hand(GstSampleGrabber::Create(), iid, out);
        if (IsEqualGUID(classId, CLSID_SystemDeviceEnum)) return Hand(new GstSystemDeviceEnum, iid, out);
        return REGDB_E_CLASSNOTREG;
    }

    // Cameras here have no property pages to show.
    HRESULT CreatePropertyFrame(HWND, int, int, const char*, ULONG, ITavolinUnknown**, ULONG, const CLSID*,
                                LCID) override {
        return E_NOTIMPL;
    }
};

}  // namespace

IMediaPlatform& GstMediaPlatform() {
    static GstPlatform platform;
    return platform;
}

}  // namespace media

#include "platform/media/gst/gst_device_enum.h"

#include "platform/media/gst/gst_capture_filter.h"
#include "platform/media/media_devices.h"

#include <gst/gst.h>

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace media {

namespace {

constexpr const char* kCameraDeviceClass = "Video/Source";

std::atomic<std::vector<ExtraCamera> (*)()> g_extraCameras{nullptr};

// One camera: its name and a way to make its source element.
class DeviceMoniker final : public MediaObject<IMoniker> {
public:
    using SourceFactory = std::function<GstElement*()>;
    DeviceMoniker(std::string name, SourceFactory createSource)
        : m_name(std::move(name)), m_createSource(std::move(createSource)) {}

    HRESULT BindToStorage(const IID& iid, void** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        auto* bag = new PropertyBag({{kPropertyFriendlyName, m_name}});
        const HRESULT result = bag->QueryInterface(iid, out);
        bag->Release();
        return result;
    }

    HRESULT BindToObject(const IID& iid, void** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        GstCaptureFilter* filter = GstCaptureFilter::Create(m_createSource());
        if (!filter) return E_FAIL;
        const HRESULT result = filter->QueryInterface(iid, out);
        filter->Release();
        return result;
    }

private:
    std::string m_name;
    SourceFactory m_createSource;
};

void AddMonitoredDevices(std::vector<IMoniker*>& devices) {
    GstDeviceMonitor* monitor = gst_device_monitor_new();
    gst_device_monitor_add_filter(monitor, kCameraDeviceClass, nullptr);
    GList* found = gst_device_monitor_get_devices(monitor);
    for (GList* item = found; item; item = item->next) {
        auto* device = GST_DEVICE(item->data);
        gchar* name = gst_device_get_display_name(device);
        gst_object_ref(device);
        auto deviceReference = std::shared_ptr<GstDevice>(device, [](GstDevice* d) { gst_object_unref(d); });
        devices.push_back(new DeviceMoniker(name ? name : "", [deviceReference] {
            return gst_device_create_element(deviceReference.get(), nullptr);
        }));
        g_free(name);
    }
    g_list_free_full(found, gst_object_unref);
    gst_object_unref(monitor);
}

void AddExtraCameras(std::vector<IMoniker*>& devices) {
    const auto cameras = g_extraCameras.load();
    if (!cameras) return;
    for (ExtraCamera& camera : cameras())
        devices.push_back(new DeviceMoniker(std::move(camera.name), std::move(camera.createSource)));
}

}  // namespace

void SetExtraCameras(std::vector<ExtraCamera> (*cameras)()) { g_extraCameras.store(cameras); }

HRESULT GstSystemDeviceEnum::CreateClassEnumerator(const CLSID& category, IEnumMoniker** out, DWORD) {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (!IsEqualGUID(category, CLSID_VideoInputDeviceCategory)) return S_FALSE;
    std::vector<IMoniker*> devices;
    AddMonitoredDevices(devices);
    AddExtraCameras(devices);
    if (devices.empty()) return S_FALSE;
    *out = new MonikerEnumerator(std::move(devices));
    return S_OK;
}

}  // namespace media

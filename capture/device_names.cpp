#include "capture/device_names.h"

#include "platform/media/media_devices.h"
#include "platform/media/media_object.h"
#include "platform/media/media_platform.h"

using namespace media;

HRESULT ReadDeviceName(IMoniker* device, VARIANT* name) {
    ComPtr<IPropertyBag> bag;
    HRESULT result = device->BindToStorage(IID_IPropertyBag, bag.OutVoid());
    if (FAILED(result)) return result;
    VariantInit(name);
    result = bag->Read(kPropertyDescription, name);
    if (FAILED(result)) result = bag->Read(kPropertyFriendlyName, name);
    return result;
}

void ReportDeviceNames(IEnumMoniker* cameras, ITavolinDeviceNameSink* sink) {
    ComPtr<IMoniker> device;
    while (cameras->Next(1, device.Out(), nullptr) == S_OK) {
        VARIANT name;
        if (FAILED(ReadDeviceName(device.Get(), &name))) continue;
        sink->OnDeviceName(name.bstrVal);
        VariantClear(&name);
    }
}

int CountNamedDevices(IEnumMoniker* cameras, int limit) {
    int count = 0;
    ComPtr<IMoniker> device;
    while (count < limit && cameras->Next(1, device.Out(), nullptr) == S_OK) {
        VARIANT name;
        if (FAILED(ReadDeviceName(device.Get(), &name))) continue;
        VariantClear(&name);
        ++count;
    }
    return count;
}

HRESULT CreateSystemDeviceEnum(ICreateDevEnum** system) {
    return CoCreateInstance(CLSID_SystemDeviceEnum, IID_ICreateDevEnum, reinterpret_cast<void**>(system));
}

HRESULT CreateCameraEnumerator(ICreateDevEnum* system, IEnumMoniker** cameras) {
    return system->CreateClassEnumerator(CLSID_VideoInputDeviceCategory, cameras, 0);
}

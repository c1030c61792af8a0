// The library's entry: every call builds a new object of the asked class and
// returns the asked interface of it, holding exactly one reference.
#include "capture/cap_zephra.h"
#include "engine/engine.h"

namespace {
HRESULT QueryAndRelease(ITavolinUnknown* object, const IID& iid, void** out) {
    const HRESULT result = object->QueryInterface(iid, out);
    object->Release();
    return result;
}
}  // namespace

extern "C" __attribute__((visibility("default"))) HRESULT DllGetClassObjectEx(const CLSID* classId,
                                                                              const IID* interfaceId, void** out) {
    if (IsEqualGUID(*classId, CLSID_TavolinEngine)) {
        CTavolinEngineImpl* engine = nullptr;
        try {
            engine = new CTavolinEngineImpl();
        } catch (...) {
            return E_OUTOFMEMORY;
        }
        return QueryAndRelease(static_cast<ITavolinEngine*>(engine), *interfaceId, out);
    }
    if (IsEqualGUID(*classId, CLSID_TavolinDeviceEnum)) {
        ITavolinDeviceEnum* devices = nullptr;
        try {
            devices = NewTavolinDeviceEnum();
        } catch (...) {
            return E_OUTOFMEMORY;
        }
        if (!devices) return E_OUTOFMEMORY;
        return QueryAndRelease(devices, *interfaceId, out);
    }
    return E_NOINTERFACE;
}

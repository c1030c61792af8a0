#include "testbed/tavolin_library.h"

#include <dlfcn.h>

#include <algorithm>
#include <vector>

namespace room {
namespace {
template <typename Function>
bool Resolve(void* handle, const char* name, Function* function, std::string* error) {
    *function = reinterpret_cast<Function>(dlsym(handle, name));
    if (!*function) *error = std::string("the library does not export ") + name;
    return *function != nullptr;
}
constexpr int kVideoDevices = 1;  // EnumDevices' kind for cameras

class CameraNames : public ITavolinDeviceNameSink {
public:
    void OnDeviceName(const char* name) override {
        if (name) names.emplace_back(name);
    }
    std::vector<std::string> names;
};
}  // namespace

// The library stays loaded for the life of the process: the media framework
// it pulls in keeps process-wide state that must not be unloaded under it.
std::unique_ptr<TavolinLibrary> TavolinLibrary::Load(const std::string& path, std::string* error) {
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        *error = "cannot load " + path + ": " + dlerror();
        return nullptr;
    }
    TavolinFunctions functions;
    if (!Resolve(handle, "DllGetClassObjectEx", &functions.getClassObject, error) ||
        !Resolve(handle, "TavolinPumpMessages", &functions.pumpMessages, error) ||
        !Resolve(handle, "TavolinRegisterComponent", &functions.registerComponent, error) ||
        !Resolve(handle, "TavolinAddSyntheticCamera", &functions.addSyntheticCamera, error) ||
        !Resolve(handle, "TavolinRemoveSyntheticCameras", &functions.removeSyntheticCameras, error))
        return nullptr;
    return std::make_unique<TavolinLibrary>(functions, reinterpret_cast<HINSTANCE>(handle));
}

ITavolinEngine* TavolinLibrary::CreateEngine() const {
    ITavolinEngine* engine = nullptr;
    if (functions_.getClassObject(&CLSID_TavolinEngine, &IID_ITavolinEngine, reinterpret_cast<void**>(&engine)) != S_OK)
        return nullptr;
    return engine;
}

bool TavolinLibrary::HasCamera(const std::string& name) const {
    ITavolinDeviceEnum* devices = nullptr;
    if (functions_.getClassObject(&CLSID_TavolinDeviceEnum, &IID_ITavolinDeviceEnum,
                                  reinterpret_cast<void**>(&devices)) != S_OK ||
        !devices)
        return false;
    CameraNames cameras;
    devices->EnumDevices(kVideoDevices, &cameras);
    devices->Release();
    return std::find(cameras.names.begin(), cameras.names.end(), name) != cameras.names.end();
}

}  // namespace room

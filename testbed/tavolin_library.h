// libtavolin.so loaded the way a game client loads it: dlopen, then the
// exported functions by name. Nothing of the library is linked at build time.
// Tests that link the engine into their own program hand its functions in
// directly instead.
#pragma once

#include <tavolin/tavolin.h>

#include <memory>
#include <string>

namespace room {

struct TavolinFunctions {
    decltype(&DllGetClassObjectEx) getClassObject = nullptr;
    decltype(&TavolinPumpMessages) pumpMessages = nullptr;
    decltype(&TavolinRegisterComponent) registerComponent = nullptr;
    decltype(&TavolinAddSyntheticCamera) addSyntheticCamera = nullptr;
    decltype(&TavolinRemoveSyntheticCameras) removeSyntheticCameras = nullptr;
};

class TavolinLibrary {
public:
    // The engine linked into this program; `instance` is the module instance to hand to Create.
    TavolinLibrary(const TavolinFunctions& functions, HINSTANCE instance)
        : functions_(functions), instance_(instance) {}

    // Loads the library and resolves every function the room uses; null with
    // `error` filled when the file or one of the functions is missing.
    static std::unique_ptr<TavolinLibrary> Load(const std::string& path, std::string* error);

    // A new engine, or null.
    ITavolinEngine* CreateEngine() const;
    // Whether a camera of that name exists (synthetic ones included).
    bool HasCamera(const std::string& name) const;
    // The module instance handed to Create.
    HINSTANCE Instance() const { return instance_; }

    int PumpMessages(uint32_t timeoutMs) const { return functions_.pumpMessages(timeoutMs); }
    HRESULT RegisterComponent(const CLSID& classId, TavolinComponentFactory factory) const {
        return functions_.registerComponent(&classId, factory);
    }
    int AddSyntheticCamera(const char* name, int pattern, int width, int height, int fps, int flags) const {
        return functions_.addSyntheticCamera(name, pattern, width, height, fps, flags);
    }
    void RemoveSyntheticCameras() const { functions_.removeSyntheticCameras(); }

private:
    TavolinFunctions functions_;
    HINSTANCE instance_;
};

}  // namespace room

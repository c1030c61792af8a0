// libtavolin.so loaded the way a game client loads it: dlopen, then the
// exported functions by name. Nothing of the library is linked at build time.
#pragma once

#include <tavolin/tavolin.h>

#include <memory>
#include <string>

namespace room {

class TavolinLibrary {
public:
    // Loads the library and resolves every function the room uses; null with
    // `error` filled when the file or one of the functions is missing.
    static std::unique_ptr<TavolinLibrary> Load(const std::string& path, std::string* error);

    // A new engine, or null.
    ITavolinEngine* CreateEngine() const;
    // The module instance handed to Create.
    HINSTANCE Instance() const { return reinterpret_cast<HINSTANCE>(handle_); }

    decltype(&TavolinPumpMessages) pumpMessages = nullptr;
    decltype(&TavolinRegisterComponent) registerComponent = nullptr;
    decltype(&TavolinAddSyntheticCamera) addSyntheticCamera = nullptr;
    decltype(&TavolinRemoveSyntheticCameras) removeSyntheticCameras = nullptr;

private:
    explicit TavolinLibrary(void* handle) : handle_(handle) {}

    void* handle_;
    decltype(&DllGetClassObjectEx) getClassObject_ = nullptr;
};

}  // namespace room

#include "engine/audio_component.h"

#include "voice/voice_factory.h"

#include <mutex>
#include <vector>

namespace {
struct Registration {
    CLSID classId;
    TavolinComponentFactory factory;
};

std::mutex& RegistryMutex() {
    static std::mutex mutex;
    return mutex;
}

// The library's own voice component until the host removes or replaces it.
std::vector<Registration>& Registry() {
    static std::vector<Registration> registry{{CLSID_TavolinAudioEngine, &voice::CreateVoiceComponent}};
    return registry;
}

TavolinComponentFactory FindFactory(const CLSID& classId) {
    std::lock_guard<std::mutex> lock(RegistryMutex());
    for (const Registration& r : Registry())
        if (IsEqualGUID(r.classId, classId)) return r.factory;
    return nullptr;
}
}  // namespace

int CreateRegisteredComponent(const CLSID& classId, const IID& iid, void** out) {
    *out = nullptr;
    TavolinComponentFactory factory = FindFactory(classId);
    if (!factory) return 1;
    if (FAILED(factory(&iid, out))) {
        *out = nullptr;
        return 0;
    }
    return 1;
}

extern "C" __attribute__((visibility("default"))) HRESULT TavolinRegisterComponent(const CLSID* classId,
                                                                                   TavolinComponentFactory factory) {
    if (!classId) return E_INVALIDARG;
    std::lock_guard<std::mutex> lock(RegistryMutex());
    std::vector<Registration>& registry = Registry();
    for (auto it = registry.begin(); it != registry.end(); ++it) {
        if (!IsEqualGUID(it->classId, *classId)) continue;
        if (factory)
            it->factory = factory;
        else
            registry.erase(it);
        return S_OK;
    }
    if (factory) registry.push_back({*classId, factory});
    return S_OK;
}

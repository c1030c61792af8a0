// The host functions of the voice component (declared in tavolin.h).
#include "voice/audio_device.h"
#include "voice/engine_registry.h"
#include "voice/voice_component.h"

#include <tavolin/tavolin.h>

namespace {

bool KindFrom(int kind, voice::DeviceKind* out) {
    if (kind != TAVOLIN_VOICE_MICROPHONE && kind != TAVOLIN_VOICE_SPEAKER) return false;
    *out = static_cast<voice::DeviceKind>(kind);
    return true;
}

}  // namespace

extern "C" __attribute__((visibility("default"))) int TavolinEnumVoiceDevices(int kind, ITavolinDeviceNameSink* sink) {
    voice::DeviceKind deviceKind;
    if (!KindFrom(kind, &deviceKind)) return 0;
    const std::vector<std::string> names = voice::ListDevices(deviceKind);
    if (sink)
        for (const std::string& name : names) sink->OnDeviceName(name.c_str());
    return static_cast<int>(names.size());
}

extern "C" __attribute__((visibility("default"))) int TavolinSelectVoiceDevice(ITavolinEngine* engine, int kind,
                                                                               const char* name) {
    voice::DeviceKind deviceKind;
    if (!engine || !KindFrom(kind, &deviceKind)) return 0;
    const std::string chosen = name ? name : "";
    return voice::WithComponent(engine, [&](voice::CVoiceEngine& c) { c.SelectDevice(deviceKind, chosen); }) ? 1 : 0;
}

extern "C" __attribute__((visibility("default"))) int TavolinSetVoiceLogSink(ITavolinEngine* engine,
                                                                             ITavolinLogSink* sink) {
    if (!engine) return 0;
    return voice::WithComponent(engine, [&](voice::CVoiceEngine& c) { c.SetLogSink(sink); }) ? 1 : 0;
}

extern "C" __attribute__((visibility("default"))) int TavolinSetVoiceEventListener(ITavolinEngine* engine,
                                                                                   ITavolinEventListener* listener) {
    if (!engine) return 0;
    return voice::WithComponent(engine, [&](voice::CVoiceEngine& c) { c.SetEventListener(listener); }) ? 1 : 0;
}

extern "C" __attribute__((visibility("default"))) int TavolinGetVoiceStats(ITavolinEngine* engine, int userId,
                                                                           TavolinVoiceStats* out) {
    if (!engine || !out) return 0;
    bool known = false;
    voice::WithComponent(engine, [&](voice::CVoiceEngine& c) { known = c.GetStats(userId, out); });
    return known ? 1 : 0;
}

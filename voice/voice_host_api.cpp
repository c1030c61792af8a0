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

// 1 when the engine has a voice component and `use` ran on it.
int OnComponent(ITavolinEngine* engine, const std::function<void(voice::CVoiceEngine&)>& use) {
    return engine && voice::WithComponent(engine, use) ? 1 : 0;
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

extern "C" __attribute__((visibility("default"))) int TavolinSetVoiceTransmitMode(ITavolinEngine* engine, int mode) {
    if (!engine || mode < TAVOLIN_VOICE_TRANSMIT_ALWAYS || mode > TAVOLIN_VOICE_TRANSMIT_PUSH_TO_TALK) return 0;
    return OnComponent(engine,
                       [&](voice::CVoiceEngine& c) { c.SetTransmitMode(static_cast<voice::TransmitMode>(mode)); });
}

extern "C" __attribute__((visibility("default"))) int TavolinSetVoiceTalking(ITavolinEngine* engine, int talking) {
    return OnComponent(engine, [&](voice::CVoiceEngine& c) { c.SetTalking(talking != 0); });
}

extern "C" __attribute__((visibility("default"))) int TavolinMuteVoiceMicrophone(ITavolinEngine* engine, int muted) {
    return OnComponent(engine, [&](voice::CVoiceEngine& c) { c.MuteMicrophone(muted != 0); });
}

extern "C" __attribute__((visibility("default"))) int TavolinSetVoiceUserVolume(ITavolinEngine* engine, int userId,
                                                                                int percent) {
    return OnComponent(engine, [&](voice::CVoiceEngine& c) { c.SetUserVolume(userId, percent); });
}

extern "C" __attribute__((visibility("default"))) int TavolinMuteVoiceUser(ITavolinEngine* engine, int userId,
                                                                           int muted) {
    return OnComponent(engine, [&](voice::CVoiceEngine& c) { c.MuteUser(userId, muted != 0); });
}

extern "C" __attribute__((visibility("default"))) int TavolinSetVoiceLevelling(ITavolinEngine* engine, int on) {
    return OnComponent(engine, [&](voice::CVoiceEngine& c) { c.SetLevelling(on != 0); });
}

extern "C" __attribute__((visibility("default"))) int TavolinGetVoiceControlStats(ITavolinEngine* engine, int userId,
                                                                                  TavolinVoiceControlStats* out) {
    if (!engine || !out || out->size < sizeof out->size) return 0;
    bool known = false;
    voice::WithComponent(engine, [&](voice::CVoiceEngine& c) { known = c.GetControlStats(userId, out); });
    return known ? 1 : 0;
}

#include "voice/audio_device.h"

#include "voice/gst_audio.h"
#include "voice/pulse_audio.h"

#include <algorithm>
#include <atomic>

namespace voice {

namespace {
constexpr char kSourceClass[] = "Audio/Source";
constexpr char kSinkClass[] = "Audio/Sink";

std::atomic<uint64_t> g_deviceChanges{0};
std::atomic<const ExtraDevices*> g_extraDevices{nullptr};

std::vector<std::string> ExtraDeviceNames(DeviceKind kind) {
    const ExtraDevices* extra = g_extraDevices.load();
    return extra ? extra->names(kind) : std::vector<std::string>{};
}

std::vector<std::string> SoundDeviceNames(DeviceKind kind) {
    if (HavePulseServer()) return PulseDeviceNames(kind);
    return GstDeviceNames(kind == DeviceKind::kMicrophone ? kSourceClass : kSinkClass);
}
}  // namespace

void SetExtraDevices(const ExtraDevices* devices) { g_extraDevices.store(devices); }

std::unique_ptr<Microphone> OpenMicrophone(const std::string& name) {
    if (const ExtraDevices* extra = g_extraDevices.load())
        if (auto device = extra->openMicrophone(name)) return device;
    if (UsePulseServer()) return OpenPulseMicrophone(name);
    return MakeGstMicrophone(CreateGstDeviceElement(kSourceClass, name));
}

std::unique_ptr<Speaker> OpenSpeaker(const std::string& name) {
    if (const ExtraDevices* extra = g_extraDevices.load())
        if (auto device = extra->openSpeaker(name)) return device;
    if (UsePulseServer()) return OpenPulseSpeaker(name);
    return MakeGstSpeaker(CreateGstDeviceElement(kSinkClass, name));
}

std::vector<std::string> ListDevices(DeviceKind kind) {
    std::vector<std::string> names = SoundDeviceNames(kind);
    for (std::string& name : ExtraDeviceNames(kind)) names.push_back(std::move(name));
    return names;
}

std::string DefaultDeviceName(DeviceKind kind) { return HavePulseServer() ? PulseDefaultDevice(kind) : ""; }

// Synthetic devices and the sound server's are known at once; asking
// GStreamer means probing every device, so its devices count as present and
// show their absence by failing.
bool DevicePresent(DeviceKind kind, const std::string& name) {
    if (name.empty()) return true;
    const auto has = [&name](const std::vector<std::string>& names) {
        return std::find(names.begin(), names.end(), name) != names.end();
    };
    if (has(ExtraDeviceNames(kind))) return true;
    if (!HavePulseServer()) return true;
    return has(PulseDeviceNames(kind));
}

uint64_t DeviceChanges() { return g_deviceChanges.load(); }
void NoteDeviceChange() { ++g_deviceChanges; }

}  // namespace voice

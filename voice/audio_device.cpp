#include "voice/audio_device.h"

#include "voice/gst_audio.h"
#include "voice/synthetic_audio.h"

namespace voice {

namespace {
constexpr char kSourceClass[] = "Audio/Source";
constexpr char kSinkClass[] = "Audio/Sink";
}  // namespace

std::unique_ptr<Microphone> OpenMicrophone(const std::string& name, const std::string& echoProbe) {
    if (auto synthetic = OpenSyntheticMicrophone(name)) return synthetic;
    return MakeGstMicrophone(CreateGstDeviceElement(kSourceClass, name), echoProbe);
}

std::unique_ptr<Speaker> OpenSpeaker(const std::string& name, const std::string& echoProbe) {
    if (auto synthetic = OpenSyntheticSpeaker(name)) return synthetic;
    return MakeGstSpeaker(CreateGstDeviceElement(kSinkClass, name), echoProbe);
}

std::vector<std::string> ListDevices(DeviceKind kind) {
    std::vector<std::string> names = GstDeviceNames(kind == DeviceKind::kMicrophone ? kSourceClass : kSinkClass);
    for (std::string& name : SyntheticDeviceNames(kind)) names.push_back(std::move(name));
    return names;
}

}  // namespace voice

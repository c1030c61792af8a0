// Microphones and speakers without sound hardware, for tests and demos.
// Hosts add them with TavolinAddSyntheticMicrophone / ...Speaker.
#pragma once

#include "voice/audio_device.h"

#include <tavolin/tavolin.h>

#include <memory>
#include <string>
#include <vector>

namespace voice {

std::vector<std::string> SyntheticDeviceNames(DeviceKind kind);
// Null when no synthetic device of that kind has the name.
std::unique_ptr<Microphone> OpenSyntheticMicrophone(const std::string& name);
std::unique_ptr<Speaker> OpenSyntheticSpeaker(const std::string& name);

}  // namespace voice

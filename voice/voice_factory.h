// How the library creates its own voice component (the default registration
// under CLSID_TavolinAudioEngine).
#pragma once

#include <tavolin/tavolin.h>

namespace voice {

HRESULT CreateVoiceComponent(const IID* iid, void** out);

}  // namespace voice

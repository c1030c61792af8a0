// Which voice component serves which engine, so that host functions given an
// engine reach its component.
#pragma once

#include <tavolin/tavolin.h>

#include <functional>

namespace voice {

class CVoiceEngine;

void RegisterEngine(ITavolinEngine* engine, CVoiceEngine* component);
void UnregisterComponent(CVoiceEngine* component);
// Runs `use` with the engine's component while it cannot go away; false when
// the engine has none.
bool WithComponent(ITavolinEngine* engine, const std::function<void(CVoiceEngine&)>& use);

}  // namespace voice

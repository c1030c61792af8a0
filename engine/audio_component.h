// The in-process component registry, the counterpart of COM class
// registration: the engine finds the voice component here. It holds the
// library's own voice component by default.
#pragma once

#include <tavolin/tavolin.h>

// Creates the component registered under classId and asks it for iid.
// Reports 1 and leaves *out null when nothing is registered; reports 0 when
// the registered factory fails.
int CreateRegisteredComponent(const CLSID& classId, const IID& iid, void** out);

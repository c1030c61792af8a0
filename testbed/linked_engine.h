// The engine linked into this program (not loaded from libtavolin.so), as a
// room sees a library: for tests and benchmarks that count what happens
// inside the engine. Only programs that link the engine may include it.
#pragma once

#include "testbed/tavolin_library.h"

namespace room {

inline const TavolinLibrary& LinkedEngine() {
    static int module;
    static const TavolinLibrary library(TavolinFunctions{&DllGetClassObjectEx, &TavolinPumpMessages,
                                                         &TavolinRegisterComponent, &TavolinAddSyntheticCamera,
                                                         &TavolinRemoveSyntheticCameras},
                                        reinterpret_cast<HINSTANCE>(&module));
    return library;
}

}  // namespace room

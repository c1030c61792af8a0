// Logging through the host's sink, shared by every module: nothing happens
// when no sink is set.
#pragma once

#include <tavolin/tavolin.h>

#include <cstdint>

template <typename... Args>
inline void LogTo(ITavolinLogSink* sink, const char* format, Args... args) {
    if (sink) sink->Log(format, args...);
}

// The engine's identity in log texts: its address as a signed 32-bit integer.
inline int LogIdentity(const void* object) { return static_cast<int>(reinterpret_cast<uintptr_t>(object)); }

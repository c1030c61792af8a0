// What the queue and the pump need from the table of windows.
#pragma once

#include "platform/win32.h"

#include <cstdint>

namespace win32 {

class ThreadQueue;

inline uint64_t HandleValue(HWND window) { return reinterpret_cast<uintptr_t>(window); }
inline HWND HandleOf(uint64_t value) { return reinterpret_cast<HWND>(static_cast<uintptr_t>(value)); }

// Calls the window procedure when `window` still exists and belongs to
// `owner`; returns whether it was called. No lock is held during the call.
bool DeliverMessage(const ThreadQueue* owner, uint64_t window, UINT message, WPARAM wParam, LPARAM lParam);

// Whether `window` exists and belongs to `owner`.
bool IsOwnedBy(const ThreadQueue* owner, HWND window);

// Destroys every window of a thread that is ending, as Win32 does.
void DestroyWindowsOwnedBy(const ThreadQueue* owner);

}  // namespace win32

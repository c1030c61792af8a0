// The Win32 services the engine relies on, on Linux: window classes, windows
// owned by their creating thread, posted messages, timers, critical sections,
// the millisecond tick and Sleep. Behaviour follows Win32 where the engine
// depends on it (posting order, the per-thread quota, timer coalescing,
// DestroyWindow dropping pending messages).
#pragma once

#include <tavolin/tavolin.h>

#include <cstdint>
#include <mutex>

using UINT = unsigned int;
using WPARAM = uintptr_t;
using LPARAM = intptr_t;
using LRESULT = intptr_t;
using LONG_PTR = intptr_t;
using UINT_PTR = uintptr_t;
using ATOM = uint16_t;
using DWORD = uint32_t;
using BOOL = int;

using WNDPROC = LRESULT (*)(HWND, UINT, WPARAM, LPARAM);

constexpr UINT WM_TIMER = 0x0113;
constexpr UINT CS_VREDRAW = 0x0001;
constexpr UINT CS_HREDRAW = 0x0002;
constexpr int GWLP_USERDATA = -21;
// Posted messages a thread may have waiting before PostMessageA fails.
constexpr size_t kPostedMessageQuota = 10000;
// Shorter timer periods are raised to this, as Win32 does; it also keeps a
// zero period from spinning the pump.
constexpr UINT kMinimumTimerElapseMs = 10;
// The Win32 value for "wait forever" (TavolinPumpMessages, Sleep).
constexpr DWORD INFINITE = 0xFFFFFFFF;

struct WNDCLASSEXA {
    UINT cbSize;
    UINT style;
    WNDPROC lpfnWndProc;
    int cbClsExtra;
    int cbWndExtra;
    HINSTANCE hInstance;
    void* hIcon;
    void* hCursor;
    void* hbrBackground;
    const char* lpszMenuName;
    const char* lpszClassName;
    void* hIconSm;
};

// Registration is keyed by (name, instance); a second registration fails (returns 0).
ATOM RegisterClassExA(const WNDCLASSEXA* wc);
BOOL UnregisterClassA(const char* className, HINSTANCE instance);

// The window belongs to the calling thread: its messages and timers are
// dispatched only by that thread's pump. Returns null when the class is unknown.
HWND CreateWindowExA(DWORD exStyle, const char* className, const char* windowName, DWORD style, int x, int y, int width,
                     int height, HWND parent, void* menu, HINSTANCE instance, void* param);
// Drops the window's pending messages and ends its timers; later posts fail.
// Only the owning thread may destroy a window.
BOOL DestroyWindow(HWND window);
BOOL IsWindow(HWND window);
LRESULT DefWindowProcA(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
LONG_PTR SetWindowLongPtrA(HWND window, int index, LONG_PTR value);
LONG_PTR GetWindowLongPtrA(HWND window, int index);

// From any thread. Delivered in posting order on the owning thread.
// False when the window does not exist or its thread's queue is full.
BOOL PostMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

struct MSG {
    HWND hwnd;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
};
constexpr UINT PM_REMOVE = 0x0001;
// Owning thread. Takes the oldest posted message of `window` whose id lies in
// [first, last] out of the queue without dispatching it, so that an owner can
// free what such messages carry before DestroyWindow drops them. Only
// PM_REMOVE is supported; timers are not reported.
BOOL PeekMessageA(MSG* message, HWND window, UINT first, UINT last, UINT removeFlags);

// WM_TIMER with wParam = id, delivered while the owning thread pumps; a timer
// that falls behind is delivered once, not once per missed period. Only the
// owning thread may set or kill a window's timers; an existing id is replaced.
// Timer callbacks are not supported: a non-null timerProc fails (returns 0),
// as does a null window.
UINT_PTR SetTimer(HWND window, UINT_PTR id, UINT elapseMs, void* timerProc);
BOOL KillTimer(HWND window, UINT_PTR id);

// Milliseconds since an arbitrary start, wrapping at 2^32.
DWORD GetTickCount();
void Sleep(DWORD ms);

// Tests replace the tick source to drive time-based rules; null restores the clock.
using TickSource = DWORD (*)();
void SetTickSourceForTesting(TickSource source);

// Win32 critical sections are recursive. The mutex is ready once the struct
// is constructed, so Initialize and Delete have nothing left to do.
struct CRITICAL_SECTION {
    std::recursive_mutex mutex;
};
void InitializeCriticalSection(CRITICAL_SECTION* cs);
void DeleteCriticalSection(CRITICAL_SECTION* cs);
void EnterCriticalSection(CRITICAL_SECTION* cs);
void LeaveCriticalSection(CRITICAL_SECTION* cs);

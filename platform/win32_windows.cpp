// Window classes and windows. One table for the process: handles are drawn
// from a 64-bit counter and never reused, so a stale handle finds nothing.
// Posts hold the table's shared lock while they queue, and DestroyWindow
// removes the window under the exclusive lock before it drops the window's
// messages: a post either lands before the drop or fails.
#include "platform/win32.h"
#include "platform/win32_thread_queue.h"
#include "platform/win32_window_registry.h"

#include <atomic>
#include <cctype>
#include <iterator>
#include <map>
#include <shared_mutex>
#include <string>
#include <unordered_map>

namespace win32 {

namespace {

// Win32 hands out class atoms from this range.
constexpr ATOM kFirstClassAtom = 0xC000;

struct ClassKey {
    std::string name;  // lower case: Win32 class names ignore case
    HINSTANCE instance;
    auto operator<=>(const ClassKey&) const = default;
};

struct WindowClass {
    WNDPROC procedure;
    size_t windows = 0;  // a class with windows cannot be unregistered
};

struct Window {
    Window(WNDPROC procedure, std::shared_ptr<ThreadQueue> owner, ClassKey windowClass)
        : procedure(procedure), owner(std::move(owner)), windowClass(std::move(windowClass)) {}

    WNDPROC procedure;
    std::shared_ptr<ThreadQueue> owner;
    ClassKey windowClass;
    std::atomic<LONG_PTR> userData{0};
};

struct Registry {
    std::shared_mutex mutex;
    std::map<ClassKey, WindowClass> classes;
    std::unordered_map<uint64_t, Window> windows;
    uint64_t nextHandle = 1;
    ATOM nextAtom = kFirstClassAtom;

    // Callers hold the exclusive lock.
    void Erase(std::unordered_map<uint64_t, Window>::iterator window) {
        classes.at(window->second.windowClass).windows--;
        windows.erase(window);
    }
};

// Destroyed with the library (at exit or dlclose), so a host that unloads the
// library gets its memory back. A thread's own windows go when the thread
// ends, which the C++ runtime orders before static destruction, and glibc
// keeps the library loaded while a thread with its destructors runs.
Registry& TheRegistry() {
    static Registry registry;
    return registry;
}

ClassKey KeyOf(const char* className, HINSTANCE instance) {
    std::string name(className);
    for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return ClassKey{std::move(name), instance};
}

}  // namespace

bool DeliverMessage(const ThreadQueue* owner, uint64_t window, UINT message, WPARAM wParam, LPARAM lParam) {
    Registry& registry = TheRegistry();
    WNDPROC procedure = nullptr;
    {
        std::shared_lock lock(registry.mutex);
        const auto found = registry.windows.find(window);
        if (found == registry.windows.end() || found->second.owner.get() != owner) return false;
        procedure = found->second.procedure;
    }
    procedure(HandleOf(window), message, wParam, lParam);
    return true;
}

bool IsOwnedBy(const ThreadQueue* owner, HWND window) {
    Registry& registry = TheRegistry();
    std::shared_lock lock(registry.mutex);
    const auto found = registry.windows.find(HandleValue(window));
    return found != registry.windows.end() && found->second.owner.get() == owner;
}

void DestroyWindowsOwnedBy(const ThreadQueue* owner) {
    Registry& registry = TheRegistry();
    std::unique_lock lock(registry.mutex);
    for (auto window = registry.windows.begin(); window != registry.windows.end();) {
        const auto next = std::next(window);
        if (window->second.owner.get() == owner) registry.Erase(window);
        window = next;
    }
}

}  // namespace win32

using win32::HandleOf;
using win32::HandleValue;
using win32::TheRegistry;

ATOM RegisterClassExA(const WNDCLASSEXA* wc) {
    if (!wc || wc->cbSize != sizeof(WNDCLASSEXA) || !wc->lpfnWndProc || !wc->lpszClassName || !*wc->lpszClassName) {
        return 0;
    }
    auto& registry = TheRegistry();
    std::unique_lock lock(registry.mutex);
    const win32::WindowClass windowClass{wc->lpfnWndProc};
    if (!registry.classes.try_emplace(win32::KeyOf(wc->lpszClassName, wc->hInstance), windowClass).second) {
        return 0;
    }
    const ATOM atom = registry.nextAtom;
    registry.nextAtom = atom == 0xFFFF ? win32::kFirstClassAtom : atom + 1;
    return atom;
}

BOOL UnregisterClassA(const char* className, HINSTANCE instance) {
    if (!className) return 0;
    auto& registry = TheRegistry();
    std::unique_lock lock(registry.mutex);
    const auto found = registry.classes.find(win32::KeyOf(className, instance));
    if (found == registry.classes.end() || found->second.windows > 0) return 0;
    registry.classes.erase(found);
    return 1;
}

HWND CreateWindowExA(DWORD, const char* className, const char*, DWORD, int, int, int, int, HWND, void*,
                     HINSTANCE instance, void*) {
    if (!className) return nullptr;
    win32::ThreadQueue* owner = win32::ThreadQueue::Current();
    if (!owner) return nullptr;
    auto& registry = TheRegistry();
    std::unique_lock lock(registry.mutex);
    auto windowClass = registry.classes.find(win32::KeyOf(className, instance));
    if (windowClass == registry.classes.end()) return nullptr;
    const uint64_t handle = registry.nextHandle++;
    registry.windows.try_emplace(handle, windowClass->second.procedure, owner->shared_from_this(), windowClass->first);
    windowClass->second.windows++;
    return HandleOf(handle);
}

BOOL DestroyWindow(HWND window) {
    win32::ThreadQueue* owner = win32::ThreadQueue::CurrentIfMade();
    if (!owner) return 0;
    auto& registry = TheRegistry();
    {
        std::unique_lock lock(registry.mutex);
        const auto found = registry.windows.find(HandleValue(window));
        if (found == registry.windows.end() || found->second.owner.get() != owner) return 0;
        registry.Erase(found);
    }
    owner->DropWindow(HandleValue(window));
    owner->Timers().KillWindow(HandleValue(window));
    return 1;
}

BOOL IsWindow(HWND window) {
    auto& registry = TheRegistry();
    std::shared_lock lock(registry.mutex);
    return registry.windows.count(HandleValue(window)) ? 1 : 0;
}

LRESULT DefWindowProcA(HWND, UINT, WPARAM, LPARAM) { return 0; }

LONG_PTR SetWindowLongPtrA(HWND window, int index, LONG_PTR value) {
    if (index != GWLP_USERDATA) return 0;
    auto& registry = TheRegistry();
    std::shared_lock lock(registry.mutex);
    const auto found = registry.windows.find(HandleValue(window));
    return found == registry.windows.end() ? 0 : found->second.userData.exchange(value);
}

LONG_PTR GetWindowLongPtrA(HWND window, int index) {
    if (index != GWLP_USERDATA) return 0;
    auto& registry = TheRegistry();
    std::shared_lock lock(registry.mutex);
    const auto found = registry.windows.find(HandleValue(window));
    return found == registry.windows.end() ? 0 : found->second.userData.load();
}

BOOL PeekMessageA(MSG* message, HWND window, UINT first, UINT last, UINT removeFlags) {
    win32::ThreadQueue* owner = win32::ThreadQueue::CurrentIfMade();
    if (!owner || !message || removeFlags != PM_REMOVE) return 0;
    win32::PostedMessage taken{};
    if (!owner->TakeMatching(HandleValue(window), first, last, &taken)) return 0;
    *message = MSG{window, taken.message, taken.wParam, taken.lParam};
    return 1;
}

BOOL PostMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto& registry = TheRegistry();
    std::shared_lock lock(registry.mutex);
    const auto found = registry.windows.find(HandleValue(window));
    if (found == registry.windows.end()) return 0;
    return found->second.owner->Post(HandleValue(window), message, wParam, lParam) ? 1 : 0;
}

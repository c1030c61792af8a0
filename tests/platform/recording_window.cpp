#include "tests/platform/recording_window.h"

#include <atomic>
#include <cstdio>

namespace platform_test {

namespace {

LRESULT RecordingProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* log = reinterpret_cast<MessageLog*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    if (!log) return DefWindowProcA(window, message, wParam, lParam);
    log->received.push_back(Received{message, wParam, lParam, std::this_thread::get_id()});
    if (log->onMessage) log->onMessage(window, log->received.back());
    return 1;
}

std::atomic<int> classCounter{0};

}  // namespace

size_t MessageLog::Count(UINT message) const {
    size_t count = 0;
    for (const Received& r : received) count += r.message == message;
    return count;
}

HINSTANCE TestInstance() {
    static int instance;
    return reinterpret_cast<HINSTANCE>(&instance);
}

WNDCLASSEXA RecordingClass::Description(const char* name, HINSTANCE instance) {
    WNDCLASSEXA wc{};
    wc.cbSize = sizeof wc;
    wc.style = CS_HREDRAW | CS_VREDRAW;
    wc.lpfnWndProc = RecordingProcedure;
    wc.hInstance = instance;
    wc.lpszClassName = name;
    return wc;
}

RecordingClass::RecordingClass() {
    std::snprintf(name_, sizeof name_, "RecordingClass%d", classCounter++);
    const WNDCLASSEXA wc = Description(name_, TestInstance());
    RegisterClassExA(&wc);
}

RecordingClass::~RecordingClass() { UnregisterClassA(name_, TestInstance()); }

HWND RecordingClass::CreateWindow(MessageLog* log) const {
    HWND window = CreateWindowExA(0, name_, "MsgWnd", 0, 0, 0, 1, 1, nullptr, nullptr, TestInstance(), nullptr);
    if (window) SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(log));
    return window;
}

}  // namespace platform_test

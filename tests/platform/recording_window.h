// A window class whose procedure records every message it receives, for the
// platform tests. Each test registers its own class name so tests stay apart.
#pragma once

#include "platform/win32.h"

#include <functional>
#include <thread>
#include <vector>

namespace platform_test {

struct Received {
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    std::thread::id thread;
};

// Lives as the window's user data; touched only by the window's thread.
struct MessageLog {
    std::vector<Received> received;
    // Runs after recording, inside the window procedure.
    std::function<void(HWND, const Received&)> onMessage;

    size_t Count(UINT message) const;
};

class RecordingClass {
public:
    RecordingClass();
    ~RecordingClass();
    RecordingClass(const RecordingClass&) = delete;
    RecordingClass& operator=(const RecordingClass&) = delete;

    // A class description as the engine fills it in.
    static WNDCLASSEXA Description(const char* name, HINSTANCE instance);
    // A window on the calling thread that records into `log`.
    HWND CreateWindow(MessageLog* log) const;

private:
    char name_[32];
};

// The host instance the tests pretend to be.
HINSTANCE TestInstance();

}  // namespace platform_test

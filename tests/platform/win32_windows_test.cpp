// Classes, windows, user data and posted messages on one thread.
#include "tests/platform/recording_window.h"

#include <gtest/gtest.h>
#include <tavolin/tavolin.h>
#include <vector>

namespace platform_test {
namespace {

TEST(WindowClass, RegistrationIsKeyedByNameAndInstance) {
    int otherInstance = 0;
    WNDCLASSEXA wc = RecordingClass::Description("ABCDEFGHIJKLMNOPQRSTUVWXYZABCDE", TestInstance());
    EXPECT_NE(RegisterClassExA(&wc), 0);
    EXPECT_EQ(RegisterClassExA(&wc), 0);
    WNDCLASSEXA other = RecordingClass::Description("abcdefghijklmnopqrstuvwxyzabcde", TestInstance());
    EXPECT_EQ(RegisterClassExA(&other), 0) << "names ignore case";
    other.hInstance = reinterpret_cast<HINSTANCE>(&otherInstance);
    EXPECT_NE(RegisterClassExA(&other), 0);
    EXPECT_EQ(CreateWindowExA(0, "Unknown", "MsgWnd", 0, 0, 0, 1, 1, nullptr, nullptr, TestInstance(), nullptr),
              nullptr);

    HWND window =
        CreateWindowExA(0, wc.lpszClassName, "MsgWnd", 0, 0, 0, 1, 1, nullptr, nullptr, TestInstance(), nullptr);
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(UnregisterClassA(wc.lpszClassName, TestInstance()), 0) << "the class still has a window";
    EXPECT_EQ(DestroyWindow(window), 1);
    EXPECT_EQ(UnregisterClassA(wc.lpszClassName, TestInstance()), 1);
    EXPECT_NE(RegisterClassExA(&wc), 0) << "a name is free again once unregistered";
    EXPECT_EQ(UnregisterClassA(wc.lpszClassName, TestInstance()), 1);
    EXPECT_EQ(UnregisterClassA(other.lpszClassName, other.hInstance), 1);
    wc.lpfnWndProc = nullptr;
    EXPECT_EQ(RegisterClassExA(&wc), 0);
}

TEST(Window, UserDataRoundTrip) {
    RecordingClass windowClass;
    HWND window = windowClass.CreateWindow(nullptr);
    int engine = 0;
    EXPECT_EQ(SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&engine)), 0);
    EXPECT_EQ(GetWindowLongPtrA(window, GWLP_USERDATA), reinterpret_cast<LONG_PTR>(&engine));
    EXPECT_EQ(SetWindowLongPtrA(window, GWLP_USERDATA, -1), reinterpret_cast<LONG_PTR>(&engine));
    EXPECT_EQ(GetWindowLongPtrA(window, GWLP_USERDATA), -1);
    DestroyWindow(window);
    EXPECT_EQ(GetWindowLongPtrA(window, GWLP_USERDATA), 0);
}

TEST(PostedMessages, DestroyedWindowLosesPendingAndLaterMessages) {
    RecordingClass windowClass;
    MessageLog destroyedLog;
    MessageLog survivorLog;
    HWND destroyed = windowClass.CreateWindow(&destroyedLog);
    HWND survivor = windowClass.CreateWindow(&survivorLog);
    PostMessageA(destroyed, 9161, 0, 0);
    for (int i = 0; i < 3; ++i) PostMessageA(survivor, 6440 + i, i, -i);
    PostMessageA(destroyed, 9161, 2, 0);
    EXPECT_EQ(DestroyWindow(destroyed), 1);
    EXPECT_EQ(DestroyWindow(destroyed), 0);
    EXPECT_FALSE(IsWindow(destroyed));
    EXPECT_EQ(PostMessageA(destroyed, 9161, 3, 0), 0);
    EXPECT_EQ(PostMessageA(nullptr, 9161, 0, 0), 0);

    HWND successor = windowClass.CreateWindow(&destroyedLog);
    EXPECT_NE(successor, destroyed) << "handles are never reused";
    EXPECT_EQ(TavolinDispatchMessages(), 3);
    EXPECT_TRUE(destroyedLog.received.empty());
    ASSERT_EQ(survivorLog.received.size(), 3u);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(survivorLog.received[i].message, UINT(6440 + i));
        EXPECT_EQ(survivorLog.received[i].wParam, WPARAM(i));
        EXPECT_EQ(survivorLog.received[i].lParam, LPARAM(-i));
    }
    DestroyWindow(successor);
    DestroyWindow(survivor);
}

TEST(PostedMessages, PeekRemovesMatchingMessagesInOrderWithoutDispatching) {
    RecordingClass windowClass;
    MessageLog log, otherLog;
    HWND window = windowClass.CreateWindow(&log);
    HWND other = windowClass.CreateWindow(&otherLog);
    PostMessageA(window, 6440, 1, 0);
    PostMessageA(window, 6442, 2, 0);
    PostMessageA(other, 6443, 3, 0);
    PostMessageA(window, 6443, 4, 0);
    MSG taken{};
    std::vector<WPARAM> removed;
    while (PeekMessageA(&taken, window, 6442, 6443, PM_REMOVE)) {
        EXPECT_EQ(window, taken.hwnd);
        removed.push_back(taken.wParam);
    }
    EXPECT_EQ((std::vector<WPARAM>{2, 4}), removed);
    EXPECT_EQ(TavolinDispatchMessages(), 2);
    ASSERT_EQ(log.received.size(), 1u);
    EXPECT_EQ(log.received[0].message, 6440u);
    EXPECT_EQ(otherLog.Count(6443), 1u);
    DestroyWindow(other);
    DestroyWindow(window);
}

TEST(PostedMessages, QuotaRefusesThenRecoversAfterDraining) {
    RecordingClass windowClass;
    MessageLog log;
    HWND window = windowClass.CreateWindow(&log);
    for (size_t i = 0; i < kPostedMessageQuota; ++i) ASSERT_TRUE(PostMessageA(window, 6441, i, 0)) << i;
    EXPECT_EQ(PostMessageA(window, 6441, 0, 0), 0);
    EXPECT_EQ(TavolinDispatchMessages(), int(kPostedMessageQuota));
    EXPECT_EQ(log.received.back().wParam, kPostedMessageQuota - 1);
    EXPECT_EQ(PostMessageA(window, 6441, 0, 0), 1);
    EXPECT_EQ(TavolinDispatchMessages(), 1);
    DestroyWindow(window);
}

TEST(PostedMessages, ProcedureMayPostCreateAndDestroyWhileDispatched) {
    RecordingClass windowClass;
    MessageLog victimLog;
    MessageLog childLog;
    MessageLog log;
    HWND victim = windowClass.CreateWindow(&victimLog);
    HWND child = nullptr;
    log.onMessage = [&](HWND self, const Received& r) {
        if (r.message != 1) return;
        PostMessageA(self, 2, 0, 0);  // lands in the next pass, not this one
        DestroyWindow(victim);
        child = windowClass.CreateWindow(&childLog);
        PostMessageA(child, 3, 0, 0);
    };
    HWND window = windowClass.CreateWindow(&log);
    PostMessageA(window, 1, 0, 0);
    PostMessageA(victim, 4, 0, 0);
    EXPECT_EQ(TavolinDispatchMessages(), 1);
    EXPECT_TRUE(victimLog.received.empty());
    EXPECT_EQ(TavolinDispatchMessages(), 2);
    EXPECT_EQ(log.Count(2), 1u);
    EXPECT_EQ(childLog.Count(3), 1u);
    DestroyWindow(child);
    DestroyWindow(window);
}

}  // namespace
}  // namespace platform_test

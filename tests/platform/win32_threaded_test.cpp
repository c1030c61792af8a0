// Posting and pumping across threads, thread ownership and critical sections.
#include "tests/platform/recording_window.h"

#include <dirent.h>
#include <gtest/gtest.h>
#include <tavolin/tavolin.h>

#include <atomic>
#include <chrono>
#include <map>

namespace platform_test {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::seconds;

// Pumps until `log` holds `count` messages or `limit` has passed.
void PumpUntil(const MessageLog& log, size_t count, Clock::duration limit = seconds(5)) {
    const auto deadline = Clock::now() + limit;
    while (log.received.size() < count && Clock::now() < deadline) TavolinPumpMessages(10);
}

size_t OpenDescriptors() {
    size_t count = 0;
    DIR* dir = opendir("/proc/self/fd");
    while (dirent* entry = readdir(dir)) count += entry->d_name[0] != '.';
    closedir(dir);
    return count;
}

TEST(ThreadedPosting, EightPostersArriveCompleteAndInOrder) {
    constexpr int kPosters = 8;
    constexpr int kPostsEach = 1000;  // all fit within the quota
    RecordingClass windowClass;
    MessageLog log;
    HWND window = windowClass.CreateWindow(&log);
    std::atomic<int> failedPosts{0};
    std::vector<std::thread> posters;
    for (int poster = 0; poster < kPosters; ++poster) {
        posters.emplace_back([=, &failedPosts] {
            for (int i = 0; i < kPostsEach; ++i) failedPosts += !PostMessageA(window, 6441, poster, i);
        });
    }
    PumpUntil(log, kPosters * kPostsEach);
    for (auto& t : posters) t.join();
    EXPECT_EQ(failedPosts, 0);
    ASSERT_EQ(log.received.size(), size_t(kPosters * kPostsEach));
    std::map<WPARAM, LPARAM> nextFrom;
    for (const Received& r : log.received) {
        EXPECT_EQ(r.thread, std::this_thread::get_id());
        EXPECT_EQ(r.lParam, nextFrom[r.wParam]++) << "poster " << r.wParam;
    }
    DestroyWindow(window);
}

TEST(ThreadedPosting, WindowsOnTwoThreadsKeepTheirOwnMessages) {
    constexpr int kPosts = 200;
    RecordingClass windowClass;
    std::atomic<HWND> windows[2] = {nullptr, nullptr};
    MessageLog logs[2];
    std::atomic<int> done{0};
    auto engineThread = [&](int self) {
        windows[self] = windowClass.CreateWindow(&logs[self]);
        while (!windows[1 - self]) std::this_thread::yield();
        // Each thread posts to both windows; a window must see only its own.
        for (int i = 0; i < kPosts; ++i) {
            PostMessageA(windows[self], 6440 + self, i, self);
            PostMessageA(windows[1 - self], 6440 + (1 - self), i, self);
        }
        PumpUntil(logs[self], 2 * kPosts);
        ++done;
        while (done < 2) TavolinPumpMessages(5);  // the other window stays valid until both are done
        DestroyWindow(windows[self]);
    };
    std::thread a(engineThread, 0);
    std::thread b(engineThread, 1);
    const auto aId = a.get_id();
    const auto bId = b.get_id();
    a.join();
    b.join();
    for (int self = 0; self < 2; ++self) {
        EXPECT_EQ(logs[self].received.size(), size_t(2 * kPosts));
        EXPECT_EQ(logs[self].Count(6440 + self), size_t(2 * kPosts));
        for (const Received& r : logs[self].received) EXPECT_EQ(r.thread, self == 0 ? aId : bId);
    }
}

TEST(ThreadedPosting, PostsRacingDestroyWindowNeverReachIt) {
    RecordingClass windowClass;
    MessageLog log;
    HWND window = windowClass.CreateWindow(&log);
    std::atomic<bool> destroyed{false};
    std::atomic<int> succeededAfterDestroy{0};
    std::thread poster([&] {
        for (int i = 0; i < 20000; ++i) {
            const bool wasDestroyed = destroyed;
            const BOOL posted = PostMessageA(window, 6440, 0, 0);
            if (wasDestroyed && posted) ++succeededAfterDestroy;
        }
    });
    while (log.received.size() < 100) TavolinPumpMessages(10);
    ASSERT_EQ(DestroyWindow(window), 1);
    destroyed = true;
    const size_t receivedAtDestroy = log.received.size();
    poster.join();
    TavolinDispatchMessages();
    EXPECT_EQ(log.received.size(), receivedAtDestroy);
    EXPECT_EQ(succeededAfterDestroy, 0);
}

TEST(ThreadedOwnership, OnlyTheOwningThreadDestroysOrSetsTimers) {
    RecordingClass windowClass;
    MessageLog log;
    HWND window = windowClass.CreateWindow(&log);
    std::thread stranger([&] {
        EXPECT_EQ(SetTimer(window, 1, 10, nullptr), 0u);
        EXPECT_EQ(DestroyWindow(window), 0);
        EXPECT_EQ(TavolinDispatchMessages(), 0);
    });
    stranger.join();
    EXPECT_TRUE(IsWindow(window));
    EXPECT_EQ(DestroyWindow(window), 1);
}

TEST(ThreadedOwnership, EndingThreadTakesItsWindowsAndDescriptors) {
    RecordingClass windowClass;
    const size_t descriptorsBefore = OpenDescriptors();
    std::atomic<HWND> window{nullptr};
    std::thread engineThread([&] {
        window = windowClass.CreateWindow(nullptr);
        PostMessageA(window, 1, 0, 0);
        SetTimer(window, 1, 10, nullptr);
        EXPECT_GE(TavolinMessageFd(), 0);
    });
    engineThread.join();
    EXPECT_FALSE(IsWindow(window));
    EXPECT_EQ(PostMessageA(window, 1, 0, 0), 0);
    EXPECT_EQ(OpenDescriptors(), descriptorsBefore);
}

TEST(ThreadedPump, PostFromAnotherThreadWakesTheWaitingPump) {
    RecordingClass windowClass;
    MessageLog log;
    HWND window = windowClass.CreateWindow(&log);
    TavolinDispatchMessages();  // make the queue before the poster starts
    const auto start = Clock::now();
    std::thread poster([&] {
        Sleep(20);
        PostMessageA(window, 9161, 0, 0);
    });
    EXPECT_EQ(TavolinPumpMessages(5000), 1);
    EXPECT_LT(Clock::now() - start, seconds(2));
    poster.join();
    DestroyWindow(window);
}

TEST(ThreadedCriticalSection, IsRecursiveAndExcludesOtherThreads) {
    CRITICAL_SECTION cs;
    InitializeCriticalSection(&cs);
    int counter = 0;
    auto work = [&] {
        for (int i = 0; i < 10000; ++i) {
            EnterCriticalSection(&cs);
            EnterCriticalSection(&cs);
            ++counter;
            LeaveCriticalSection(&cs);
            LeaveCriticalSection(&cs);
        }
    };
    std::thread a(work);
    std::thread b(work);
    a.join();
    b.join();
    EXPECT_EQ(counter, 20000);
    DeleteCriticalSection(&cs);
}

}  // namespace
}  // namespace platform_test

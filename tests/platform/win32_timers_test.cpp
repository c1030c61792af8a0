// Window timers and the pump's descriptor, on one thread, against the real clock.
#include "tests/platform/recording_window.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <tavolin/tavolin.h>

#include <chrono>

namespace platform_test {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// Slack for a loaded machine: ticks may come late, never early.
constexpr auto kLateness = milliseconds(100);

bool Readable(int fd, int timeoutMs) {
    pollfd p{fd, POLLIN, 0};
    return poll(&p, 1, timeoutMs) == 1 && (p.revents & POLLIN);
}

// Pumps until `log` holds `count` messages or `limit` has passed.
void PumpUntil(const MessageLog& log, size_t count, Clock::duration limit) {
    const auto deadline = Clock::now() + limit;
    while (log.received.size() < count && Clock::now() < deadline) TavolinPumpMessages(10);
}

class TimerTest : public ::testing::Test {
protected:
    void SetUp() override { window = windowClass.CreateWindow(&log); }
    void TearDown() override { DestroyWindow(window); }

    RecordingClass windowClass;
    MessageLog log;
    HWND window = nullptr;
};

TEST_F(TimerTest, TicksKeepTheirPeriod) {
    constexpr int kPeriodMs = 20;
    constexpr size_t kTicks = 8;
    std::vector<Clock::time_point> ticks;
    log.onMessage = [&](HWND, const Received&) { ticks.push_back(Clock::now()); };
    const auto start = Clock::now();
    ASSERT_NE(SetTimer(window, 1, kPeriodMs, nullptr), 0u);
    PumpUntil(log, kTicks, milliseconds(kPeriodMs * kTicks) + 10 * kLateness);
    ASSERT_EQ(ticks.size(), kTicks);
    for (size_t i = 0; i < kTicks; ++i) {
        EXPECT_EQ(log.received[i].message, WM_TIMER);
        EXPECT_EQ(log.received[i].wParam, 1u);
        const auto due = start + milliseconds(kPeriodMs * (i + 1));
        EXPECT_GE(ticks[i], due) << "tick " << i << " came early";
    }
    EXPECT_LT(ticks.back(), start + milliseconds(kPeriodMs * kTicks) + kLateness) << "ticks fell behind";
}

TEST_F(TimerTest, MissedPeriodsCollapseIntoOneTick) {
    constexpr auto kPeriod = milliseconds(30);
    SetTimer(window, 1, kPeriod.count(), nullptr);
    SetTimer(window, 2, kPeriod.count(), nullptr);
    Sleep(5 * kPeriod.count());
    EXPECT_EQ(TavolinDispatchMessages(), 2);
    const auto collapsedAt = Clock::now();
    const int dueRightAfter = TavolinDispatchMessages();
    if (Clock::now() - collapsedAt < kPeriod) {
        EXPECT_EQ(dueRightAfter, 0) << "the missed periods were skipped";
    }
    ASSERT_EQ(log.received.size(), 2u);
    EXPECT_EQ(log.received[0].wParam + log.received[1].wParam, 3u);
}

TEST_F(TimerTest, SettingAnExistingIdReplacesIt) {
    SetTimer(window, 7, 60000, nullptr);
    SetTimer(window, 7, 10, nullptr);
    PumpUntil(log, 1, kLateness * 5);
    ASSERT_EQ(log.Count(WM_TIMER), 1u);
    EXPECT_EQ(log.received[0].wParam, 7u);
}

TEST_F(TimerTest, KilledTimersAndTimersOfDestroyedWindowsNeverTick) {
    MessageLog otherLog;
    HWND other = windowClass.CreateWindow(&otherLog);
    SetTimer(window, 1, 10, nullptr);
    SetTimer(other, 1, 10, nullptr);
    // The window kills its own timer from inside the tick.
    SetTimer(window, 2, 10, nullptr);
    log.onMessage = [](HWND self, const Received& r) {
        if (r.wParam == 2) {
            EXPECT_EQ(KillTimer(self, 2), 1);
        }
    };
    EXPECT_EQ(KillTimer(window, 1), 1);
    EXPECT_EQ(KillTimer(window, 1), 0);
    EXPECT_EQ(SetTimer(window, 5, 10, reinterpret_cast<void*>(&Readable)), 0u) << "callbacks are not supported";
    Sleep(30);
    EXPECT_EQ(DestroyWindow(other), 1);
    Sleep(30);
    EXPECT_EQ(TavolinDispatchMessages(), 1);
    EXPECT_EQ(TavolinPumpMessages(40), 0);
    EXPECT_TRUE(otherLog.received.empty());
    EXPECT_EQ(log.Count(WM_TIMER), 1u);
}

TEST_F(TimerTest, DescriptorIsReadableForAPostAndForADueTimerOnly) {
    const int fd = TavolinMessageFd();
    ASSERT_GE(fd, 0);
    EXPECT_EQ(TavolinMessageFd(), fd);
    EXPECT_FALSE(Readable(fd, 0));

    PostMessageA(window, 6441, 0, 0);
    EXPECT_TRUE(Readable(fd, 0));
    EXPECT_EQ(TavolinDispatchMessages(), 1);
    EXPECT_FALSE(Readable(fd, 0));

    constexpr auto kPeriod = milliseconds(30);
    const auto start = Clock::now();
    SetTimer(window, 3, kPeriod.count(), nullptr);
    EXPECT_FALSE(Readable(fd, 0));
    EXPECT_TRUE(Readable(fd, (kPeriod + kLateness).count()));
    EXPECT_GE(Clock::now() - start, kPeriod - milliseconds(1));
    EXPECT_EQ(TavolinDispatchMessages(), 1);
    const auto dispatchedAt = Clock::now();
    const bool readableAfter = Readable(fd, 0);
    if (Clock::now() - dispatchedAt < kPeriod) {
        EXPECT_FALSE(readableAfter) << "the next tick is a period away";
    }
    KillTimer(window, 3);

    const auto waitStart = Clock::now();
    EXPECT_EQ(TavolinPumpMessages(30), 0);
    EXPECT_GE(Clock::now() - waitStart, milliseconds(29));
}

}  // namespace
}  // namespace platform_test

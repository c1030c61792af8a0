// The millisecond tick: replaceable for tests, wrapping at 2^32.
#include "platform/win32.h"

#include <gtest/gtest.h>

namespace platform_test {
namespace {

DWORD fakeTick = 0;
DWORD FakeTick() { return fakeTick; }

TEST(Tick, TestSourceReplacesTheClockAndDifferencesSurviveTheWrap) {
    SetTickSourceForTesting(FakeTick);
    fakeTick = 0xFFFFFFF0u;
    const DWORD before = GetTickCount();
    fakeTick += 0x20;
    EXPECT_EQ(GetTickCount(), 0x10u);
    EXPECT_EQ(GetTickCount() - before, 0x20u);
    SetTickSourceForTesting(nullptr);

    const DWORD start = GetTickCount();
    Sleep(20);
    const DWORD elapsed = GetTickCount() - start;
    EXPECT_GE(elapsed, 19u);
    EXPECT_LT(elapsed, 1000u);
}

}  // namespace
}  // namespace platform_test

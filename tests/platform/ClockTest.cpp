#include <gtest/gtest.h>

#include <chrono>

#include "platform/Platform.h"
#include "platform/TestClocks.h"

namespace {

TEST(Clock, RecordingClockRecordsPausesAndAdvancesTicks) {
    platform::RecordingClock clock;
    platform::SetClock(&clock);
    const uint32_t start = platform::TickCount();
    platform::Sleep(50);
    platform::Sleep(2000);
    EXPECT_EQ(platform::TickCount() - start, 2050u);
    EXPECT_EQ(clock.Pauses(), (std::vector<uint32_t>{50, 2000}));
    clock.Advance(10);
    EXPECT_EQ(platform::TickCount() - start, 2060u);
    clock.ClearPauses();
    EXPECT_TRUE(clock.Pauses().empty());

    platform::LocalTime now;
    ASSERT_TRUE(platform::GetClock().Now(now));
    EXPECT_EQ(now.year, 2027);
    EXPECT_EQ(now.hour, 9);
    clock.SetNow(now, false);
    EXPECT_FALSE(platform::GetClock().Now(now));
    platform::SetClock(nullptr);
    EXPECT_EQ(&platform::GetClock(), &platform::RealClock());
}

TEST(Clock, ScaledClockSleepsAFractionAndRunsTicksFaster) {
    platform::ScaledClock clock(100);
    const auto realStart = std::chrono::steady_clock::now();
    const uint32_t tickStart = clock.TickCount();
    clock.Sleep(2000);   // 20 ms of real time
    const auto realElapsed = std::chrono::steady_clock::now() - realStart;
    EXPECT_GE(clock.TickCount() - tickStart, 2000u);
    EXPECT_LT(realElapsed, std::chrono::milliseconds(1500));
    EXPECT_EQ(clock.Pauses(), (std::vector<uint32_t>{2000}));
}

TEST(Clock, RealClockGivesAPlausibleCalendar) {
    platform::LocalTime now;
    ASSERT_TRUE(platform::RealClock().Now(now));
    EXPECT_GE(now.year, 2020);
    EXPECT_GE(now.month, 1);
    EXPECT_LE(now.month, 12);
    const uint32_t before = platform::RealClock().TickCount();
    platform::RealClock().Sleep(5);
    EXPECT_GE(platform::RealClock().TickCount() - before, 5u);
}

}  // namespace

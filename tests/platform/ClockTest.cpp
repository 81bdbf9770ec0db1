#include <gtest/gtest.h>

#include <chrono>
#include <functional>

#include "platform/Platform.h"
#include "platform/TestClocks.h"
#include "platform/VirtualCardClock.h"

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

namespace {

using Steady = std::chrono::steady_clock;

long long RealMillisOf(const std::function<void()>& work) {
    const auto start = Steady::now();
    work();
    return std::chrono::duration_cast<std::chrono::milliseconds>(Steady::now() - start).count();
}

TEST(VirtualCardClock, SpeedsUpOnlyWhileThePortIsAVirtualCards) {
    platform::VirtualCardClock clock(1000);

    // A real card's port: every pause lasts its full time.
    platform::SetPortIsVirtual(false);
    uint32_t before = clock.TickCount();
    EXPECT_GE(RealMillisOf([&] { clock.Sleep(40); }), 40);
    EXPECT_GE(clock.TickCount() - before, 40u);

    // A virtual card's port: a five-second pause passes in a few
    // milliseconds while the tick count still moves on by five seconds.
    platform::SetPortIsVirtual(true);
    before = clock.TickCount();
    EXPECT_LT(RealMillisOf([&] { clock.Sleep(5000); }), 1000);
    EXPECT_GE(clock.TickCount() - before, 5000u);

    // Back on a real port the tick count goes on from where it was.
    platform::SetPortIsVirtual(false);
    const uint32_t afterVirtual = clock.TickCount();
    clock.Sleep(5);
    EXPECT_GE(clock.TickCount(), afterVirtual + 5);
}

}  // namespace

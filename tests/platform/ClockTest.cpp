#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include "platform/Platform.h"
#include "platform/VirtualCardClock.h"
#include "tests/support/TestClocks.h"

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

// A port that answers only whether it is a virtual card's; a port that does
// not answer is a real device's.
class KindOnlyPort : public platform::ComPort {
public:
    bool SetLine(const platform::LineSettings&) override { return true; }
    bool SetupComm(uint32_t, uint32_t) override { return true; }
    bool SetCommMask(uint32_t) override { return true; }
    bool SetCommTimeouts(const platform::PortTimeouts&) override { return true; }
    bool PurgeComm(uint32_t) override { return true; }
    uint32_t QueuedInput() override { return 0; }
    uint32_t Read(uint8_t*, uint32_t) override { return 0; }
    uint32_t Write(const uint8_t*, uint32_t count) override { return count; }
};

class VirtualCardPort : public KindOnlyPort {
public:
    bool IsVirtualCard() const override { return true; }
};

TEST(VirtualCardClock, SpeedsUpOnlyWhileThePortIsAVirtualCards) {
    platform::VirtualCardClock clock(1000);
    const KindOnlyPort realPort;
    const VirtualCardPort virtualPort;

    // Before any port and with a real card's port: every pause lasts its full time.
    EXPECT_GE(RealMillisOf([&] { clock.Sleep(40); }), 40);
    clock.PortOpened(realPort);
    uint32_t before = clock.TickCount();
    EXPECT_GE(RealMillisOf([&] { clock.Sleep(40); }), 40);
    EXPECT_GE(clock.TickCount() - before, 40u);

    // A virtual card's port: a five-second pause passes in a few
    // milliseconds while the tick count still moves on by five seconds.
    clock.PortOpened(virtualPort);
    before = clock.TickCount();
    EXPECT_LT(RealMillisOf([&] { clock.Sleep(5000); }), 1000);
    EXPECT_GE(clock.TickCount() - before, 5000u);

    // A real port opened after it gets its full pauses again, and the tick
    // count goes on from where it was.
    clock.PortOpened(realPort);
    const uint32_t afterVirtual = clock.TickCount();
    EXPECT_GE(RealMillisOf([&] { clock.Sleep(40); }), 40);
    EXPECT_GE(clock.TickCount(), afterVirtual + 40);
}

TEST(VirtualCardClock, LearnsOfEachPortThatOpens) {
    class Opener : public platform::ComPortOpener {
    public:
        bool virtualCard = false;
        std::unique_ptr<platform::ComPort> Open(const std::u16string&, int32_t) override {
            if (virtualCard) return std::make_unique<VirtualCardPort>();
            return std::make_unique<KindOnlyPort>();
        }
    } opener;
    platform::VirtualCardClock clock(1000);
    platform::SetComPortOpener(&opener);
    platform::SetClock(&clock);

    opener.virtualCard = true;
    EXPECT_NE(platform::OpenComPort(u"//./COM3", 3), nullptr);
    EXPECT_LT(RealMillisOf([&] { platform::Sleep(5000); }), 1000);
    opener.virtualCard = false;
    EXPECT_NE(platform::OpenComPort(u"//./COM3", 3), nullptr);
    EXPECT_GE(RealMillisOf([&] { platform::Sleep(40); }), 40) << "a real card's port gets its full pauses";

    platform::SetClock(nullptr);
    platform::SetComPortOpener(nullptr);
}

}  // namespace

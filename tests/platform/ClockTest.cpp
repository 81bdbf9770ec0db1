#include <gtest/gtest.h>

#include <cstdlib>
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

TEST(ClockScale, TakesOnlyPlainDecimalDivisorsFromTwoToTheLargest) {
    EXPECT_EQ(platform::ClockScaleFromText("2"), 2u);
    EXPECT_EQ(platform::ClockScaleFromText("50"), 50u);
    EXPECT_EQ(platform::ClockScaleFromText("007"), 7u);
    EXPECT_EQ(platform::ClockScaleFromText("1000000"), platform::kMaxClockScale);
    // Real time: 0 and 1 ask for no speed-up.
    EXPECT_EQ(platform::ClockScaleFromText("1"), 0u);
    EXPECT_EQ(platform::ClockScaleFromText("0"), 0u);
    EXPECT_EQ(platform::ClockScaleFromText("00"), 0u);
    // Signs, spaces, other bases and junk are refused, not read in part.
    for (const char* text : {"-5", "+5", " 5", "5 ", "10x", "0x10", "1e3", "5.0", "", "ten"})
        EXPECT_EQ(platform::ClockScaleFromText(text), 0u) << "'" << text << "'";
    EXPECT_EQ(platform::ClockScaleFromText(nullptr), 0u);
    // Too large, also where an unsigned long or a uint32_t would wrap to a small value.
    for (const char* text : {"1000001", "4294967298", "18446744073709551618", "99999999999999999999"})
        EXPECT_EQ(platform::ClockScaleFromText(text), 0u) << text;
}

TEST(ClockScale, TheEnvironmentsSettingInstallsTheVirtualCardClock) {
    ::setenv(platform::kClockScaleVariable, "12abc", 1);
    EXPECT_EQ(platform::ClockScaleFromEnvironment(), 0u);
    ::setenv(platform::kClockScaleVariable, "12", 1);
    EXPECT_EQ(platform::ClockScaleFromEnvironment(), 12u);
    platform::InstallClockFromEnvironment();
    EXPECT_NE(dynamic_cast<platform::VirtualCardClock*>(&platform::GetClock()), nullptr);
    platform::SetClock(nullptr);
    ::unsetenv(platform::kClockScaleVariable);
}

// What a COM port under Wine must lead to for the port to be a virtual card's.
TEST(WinePortRule, OnlyAPseudoTerminalsSlavePathIsAVirtualCards) {
    for (const char* path : {"/dev/pts/0", "/dev/pts/17"}) EXPECT_TRUE(platform::IsPseudoTerminalUnixPath(path)) << path;
    for (const char* path : {"/dev/ttyS0", "/dev/ttyUSB0", "/dev/ttyACM0", "/dev/ptmx", "/dev/pts/ptmx", "/dev/pts/",
                             "/dev/pts/1a", "/dev/pts/1/x", "dev/pts/3", "/tmp/prefix/dosdevices/z:/dev/pts/3",
                             "/tmp/prefix/dosdevices/com5", ""})
        EXPECT_FALSE(platform::IsPseudoTerminalUnixPath(path)) << path;
}

}  // namespace

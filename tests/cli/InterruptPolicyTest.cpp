#include <gtest/gtest.h>

#include <csignal>

#include "host/fwupgrade/run/InterruptPolicy.h"

namespace fwupgrade {
namespace {

using std::chrono::seconds;
const InterruptPolicy::Clock::time_point kStart{};

TEST(InterruptPolicy, BeforeTheSwitchEveryStopSignalEndsTheRun) {
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
        InterruptPolicy policy;
        EXPECT_EQ(policy.OnSignal(signal, false, kStart), SignalAction::StopUnchanged) << signal;
    }
}

TEST(InterruptPolicy, PastTheSwitchOnlyASecondInterruptWithinFiveSecondsStops) {
    InterruptPolicy policy;
    EXPECT_EQ(policy.OnSignal(SIGHUP, true, kStart), SignalAction::Ignore);
    EXPECT_EQ(policy.OnSignal(SIGTERM, true, kStart), SignalAction::WarnAndGoOn);
    // A hang-up in between is not a second interrupt.
    EXPECT_EQ(policy.OnSignal(SIGHUP, true, kStart + seconds(1)), SignalAction::Ignore);
    EXPECT_EQ(policy.OnSignal(SIGINT, true, kStart + seconds(5)), SignalAction::StopWithRescue);
}

TEST(InterruptPolicy, AnInterruptLaterThanFiveSecondsWarnsAgain) {
    InterruptPolicy policy;
    EXPECT_EQ(policy.OnSignal(SIGINT, true, kStart), SignalAction::WarnAndGoOn);
    EXPECT_EQ(policy.OnSignal(SIGINT, true, kStart + seconds(6)), SignalAction::WarnAndGoOn);
    EXPECT_EQ(policy.OnSignal(SIGINT, true, kStart + seconds(8)), SignalAction::StopWithRescue);
}

TEST(InterruptPolicy, AnInterruptBeforeTheSwitchDoesNotCountAsTheFirst) {
    InterruptPolicy policy;
    EXPECT_EQ(policy.OnSignal(SIGINT, false, kStart), SignalAction::StopUnchanged);
    EXPECT_EQ(policy.OnSignal(SIGINT, true, kStart + seconds(1)), SignalAction::WarnAndGoOn);
}

TEST(InterruptPolicy, ABackupOrRestoreIsAskedToStopAtItsSafePointAndEndsOnlyOnASecondInterrupt) {
    InterruptPolicy policy(StopRule::AtSafePoint);
    // Where the run is makes no difference: the engine finds its safe point.
    EXPECT_EQ(policy.OnSignal(SIGINT, false, kStart), SignalAction::StopAtSafePoint);
    EXPECT_EQ(policy.OnSignal(SIGHUP, true, kStart + seconds(1)), SignalAction::Ignore);
    EXPECT_EQ(policy.OnSignal(SIGTERM, false, kStart + seconds(5)), SignalAction::StopPartWritten);
}

TEST(InterruptPolicy, AtTheSafePointAHangUpAsksToStopAndALateInterruptAsksAgain) {
    InterruptPolicy policy(StopRule::AtSafePoint);
    EXPECT_EQ(policy.OnSignal(SIGHUP, false, kStart), SignalAction::StopAtSafePoint);
    // A hang-up is never the first of two interrupts.
    EXPECT_EQ(policy.OnSignal(SIGINT, false, kStart + seconds(1)), SignalAction::StopAtSafePoint);
    EXPECT_EQ(policy.OnSignal(SIGINT, false, kStart + seconds(7)), SignalAction::StopAtSafePoint);
    EXPECT_EQ(policy.OnSignal(SIGINT, false, kStart + seconds(9)), SignalAction::StopPartWritten);
}

}  // namespace
}  // namespace fwupgrade

// What a stop signal does to a run. Before the card leaves its firmware
// nothing is lost by stopping, so any of SIGINT, SIGTERM and SIGHUP ends the
// run at once. Past that point a stopped run leaves a card without working
// firmware: a closed terminal is ignored, one SIGINT or SIGTERM only warns,
// and a second within a few seconds is taken as meant.
//
// A backup or restore is never ended at once by a first signal (a restore
// ended half-way leaves the card's data partly back, a backup the card's lock
// files open): the engine is asked to stop at its next safe point (its
// cancellation check at each step), and only a second SIGINT or SIGTERM
// within those seconds ends it where it is.
#pragma once

#include <chrono>
#include <optional>

namespace fwupgrade {

enum class SignalAction {
    StopUnchanged,     // end now; the card still runs its own firmware
    WarnAndGoOn,       // say that the card is being flashed and carry on
    StopWithRescue,    // end now and tell how to rescue the card
    Ignore,
    StopAtSafePoint,   // ask the engine to stop at its next cancellation check, and say so
    StopPartWritten,   // end now, part-way through the backup's or restore's step
};

constexpr std::chrono::seconds kSecondInterruptWindow{5};

enum class StopRule {
    AtOnceBeforeSwitch,   // upgrade, rescue
    AtSafePoint,          // backup, restore
};

class InterruptPolicy {
public:
    using Clock = std::chrono::steady_clock;
    explicit InterruptPolicy(StopRule rule = StopRule::AtOnceBeforeSwitch) : rule_(rule) {}
    void SetRule(StopRule rule) { rule_ = rule; }
    SignalAction OnSignal(int signal, bool pastSwitch, Clock::time_point now);

private:
    SignalAction OnSignalAtSafePoint(int signal, Clock::time_point now);
    bool SecondWithinWindow(Clock::time_point now) const;

    StopRule rule_;
    std::optional<Clock::time_point> lastWarning_;
};

}  // namespace fwupgrade

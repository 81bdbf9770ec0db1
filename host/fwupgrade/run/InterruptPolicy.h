// What a stop signal does to a run. Before the card leaves its firmware
// nothing is lost by stopping, so any of SIGINT, SIGTERM and SIGHUP ends the
// run at once. Past that point a stopped run leaves a card without working
// firmware: a closed terminal is ignored, one SIGINT or SIGTERM only warns,
// and a second within a few seconds is taken as meant.
#pragma once

#include <chrono>
#include <optional>

namespace fwupgrade {

enum class SignalAction {
    StopUnchanged,     // end now; the card still runs its own firmware
    WarnAndGoOn,       // say that the card is being flashed and carry on
    StopWithRescue,    // end now and tell how to rescue the card
    Ignore,
};

constexpr std::chrono::seconds kSecondInterruptWindow{5};

class InterruptPolicy {
public:
    using Clock = std::chrono::steady_clock;
    SignalAction OnSignal(int signal, bool pastSwitch, Clock::time_point now);

private:
    std::optional<Clock::time_point> lastWarning_;
};

}  // namespace fwupgrade

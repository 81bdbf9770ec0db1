#include "host/fwupgrade/run/InterruptPolicy.h"

#include <csignal>

namespace fwupgrade {

SignalAction InterruptPolicy::OnSignal(int signal, bool pastSwitch, Clock::time_point now) {
    if (rule_ == StopRule::AtSafePoint) return OnSignalAtSafePoint(signal, now);
    if (!pastSwitch) return SignalAction::StopUnchanged;
    if (signal != SIGINT && signal != SIGTERM) return SignalAction::Ignore;
    if (SecondWithinWindow(now)) return SignalAction::StopWithRescue;
    lastWarning_ = now;
    return SignalAction::WarnAndGoOn;
}

SignalAction InterruptPolicy::OnSignalAtSafePoint(int signal, Clock::time_point now) {
    const bool firstStop = !lastWarning_;
    if (signal != SIGINT && signal != SIGTERM) return firstStop ? SignalAction::StopAtSafePoint : SignalAction::Ignore;
    if (SecondWithinWindow(now)) return SignalAction::StopPartWritten;
    lastWarning_ = now;
    return SignalAction::StopAtSafePoint;
}

bool InterruptPolicy::SecondWithinWindow(Clock::time_point now) const {
    return lastWarning_ && now - *lastWarning_ <= kSecondInterruptWindow;
}

}  // namespace fwupgrade

#include "host/fwupgrade/run/InterruptPolicy.h"

#include <csignal>

namespace fwupgrade {

SignalAction InterruptPolicy::OnSignal(int signal, bool pastSwitch, Clock::time_point now) {
    if (!pastSwitch) return SignalAction::StopUnchanged;
    if (signal != SIGINT && signal != SIGTERM) return SignalAction::Ignore;
    if (lastWarning_ && now - *lastWarning_ <= kSecondInterruptWindow) return SignalAction::StopWithRescue;
    lastWarning_ = now;
    return SignalAction::WarnAndGoOn;
}

}  // namespace fwupgrade

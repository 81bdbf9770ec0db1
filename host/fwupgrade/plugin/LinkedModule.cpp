#include "host/fwupgrade/plugin/LinkedModule.h"

#include "platform/VirtualCardClock.h"
#include "platform/posix/SerialPort.h"

namespace fwupgrade {

double PauseScaleOf(const std::string& devicePath) {
    const uint32_t divisor = platform::ClockScaleFromEnvironment();
    if (divisor == 0 || !platform::IsPseudoTerminalPath(devicePath)) return 1.0;
    return 1.0 / static_cast<double>(divisor);
}

}  // namespace fwupgrade

#include "host/fwupgrade/LinkedModule.h"

#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <cstdlib>

#include "platform/VirtualCardClock.h"

namespace fwupgrade {

namespace {

// FWUPGRADE_CLOCK_SCALE as a divisor; 0 when unset or not one.
unsigned long ClockScaleDivisor() {
    const char* text = std::getenv("FWUPGRADE_CLOCK_SCALE");
    if (text == nullptr) return 0;
    char* end = nullptr;
    const unsigned long divisor = std::strtoul(text, &end, 10);
    if (*text == '\0' || *end != '\0' || divisor <= 1 || divisor > 1000000) return 0;
    return divisor;
}

}  // namespace

void InstallVirtualCardClock() {
    const unsigned long divisor = ClockScaleDivisor();
    if (divisor == 0) return;
    static platform::VirtualCardClock* const clock = new platform::VirtualCardClock(static_cast<uint32_t>(divisor));
    platform::SetClock(clock);
}

double PauseScaleOf(const std::string& devicePath) {
    const unsigned long divisor = ClockScaleDivisor();
    struct stat info {};
    if (divisor == 0 || ::stat(devicePath.c_str(), &info) != 0 || !S_ISCHR(info.st_mode)) return 1.0;
    // Unix98 pseudo-terminal slaves are character devices of majors 136-143.
    const unsigned int deviceMajor = major(info.st_rdev);
    return deviceMajor >= 136 && deviceMajor <= 143 ? 1.0 / static_cast<double>(divisor) : 1.0;
}

}  // namespace fwupgrade

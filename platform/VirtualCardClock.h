// The clock a virtual card may speed up. While the port opened last belongs
// to a virtual card (it says so itself), pauses last 1/divisor of their time
// and the tick count runs divisor times faster; before the first port and
// with any other port it is the real clock, so a real card always gets its
// full pauses. Shipped: the library and fwupgrade take the divisor from the
// clock-scale setting, for demonstrations against the virtual card.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

#include "platform/Platform.h"

namespace platform {

class VirtualCardClock : public Clock {
public:
    explicit VirtualCardClock(uint32_t divisor, uint32_t minimumRealMicros = 200);
    uint32_t TickCount() override;
    void Sleep(uint32_t milliseconds) override;
    bool Now(LocalTime& out) override;
    void PortOpened(const ComPort& port) override;

private:
    // Adds the real time since the last call, sped up while the port is a
    // virtual card's, so the tick count never goes back when the port changes.
    uint64_t AdvanceMicros();

    std::atomic<bool> virtualCard_{false};
    std::mutex mutex_;
    uint32_t divisor_;
    uint32_t minimumRealMicros_;
    uint64_t lastRealMicros_;
    uint64_t tickMicros_ = 0;
};

// The setting that asks for the sped-up clock, and its largest divisor.
constexpr const char* kClockScaleVariable = "FWUPGRADE_CLOCK_SCALE";
constexpr uint32_t kMaxClockScale = 1000000;

// The divisor a clock-scale text asks for: decimal digits alone (no sign,
// no space), from 2 to kMaxClockScale; anything else 0, which means real time.
uint32_t ClockScaleFromText(const char* text);
// ClockScaleFromText of the environment's FWUPGRADE_CLOCK_SCALE.
uint32_t ClockScaleFromEnvironment();
// Makes a VirtualCardClock with that divisor the process's clock, once;
// nothing when the setting asks for none.
void InstallClockFromEnvironment();

// True for the Unix path of a pseudo-terminal's slave side, /dev/pts/<n>:
// what a COM port under Wine must lead to for the port to be a virtual
// card's. /dev/ptmx (it opens a new master) and every other path are not.
bool IsPseudoTerminalUnixPath(const std::string& unixPath);

}  // namespace platform

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

}  // namespace platform

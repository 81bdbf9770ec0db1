// Time for fuzz targets: pauses return at once and move the tick count on,
// and nothing is recorded, so millions of runs keep a flat memory.
#pragma once

#include <cstdint>

#include "platform/Platform.h"

namespace fuzz {

class VirtualTime : public platform::Clock {
public:
    uint32_t TickCount() override { return ticks_; }
    void Sleep(uint32_t milliseconds) override { ticks_ += milliseconds == 0 ? 1 : milliseconds; }
    bool Now(platform::LocalTime& out) override {
        out = {2027, 1, 3, 9, 7, 5};
        return true;
    }
    void Advance(uint32_t milliseconds) { ticks_ += milliseconds; }

private:
    uint32_t ticks_ = 0;
};

// The one clock of a fuzz target, installed on first use.
inline VirtualTime& InstallVirtualTime() {
    static VirtualTime* const clock = [] {
        auto* c = new VirtualTime();
        platform::SetClock(c);
        return c;
    }();
    return *clock;
}

}  // namespace fuzz

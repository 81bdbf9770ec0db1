#include <atomic>

#include "platform/Platform.h"

namespace platform {

namespace {
std::atomic<Clock*> g_installedClock{nullptr};
}

Clock& GetClock() {
    Clock* installed = g_installedClock.load(std::memory_order_acquire);
    return installed != nullptr ? *installed : RealClock();
}

void SetClock(Clock* clock) { g_installedClock.store(clock, std::memory_order_release); }

}  // namespace platform

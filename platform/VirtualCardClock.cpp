#include "platform/VirtualCardClock.h"

#include "platform/SteadyTime.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <thread>

namespace platform {

VirtualCardClock::VirtualCardClock(uint32_t divisor, uint32_t minimumRealMicros)
    : divisor_(std::max<uint32_t>(divisor, 1)), minimumRealMicros_(minimumRealMicros), lastRealMicros_(SteadyMicros()) {}

uint64_t VirtualCardClock::AdvanceMicros() {
    std::lock_guard<std::mutex> lock(mutex_);
    const uint64_t now = SteadyMicros();
    const uint64_t elapsed = now - lastRealMicros_;
    lastRealMicros_ = now;
    tickMicros_ += virtualCard_ ? elapsed * divisor_ : elapsed;
    return tickMicros_;
}

uint32_t VirtualCardClock::TickCount() { return static_cast<uint32_t>(AdvanceMicros() / 1000); }

void VirtualCardClock::Sleep(uint32_t milliseconds) {
    AdvanceMicros();
    const uint64_t asked = static_cast<uint64_t>(milliseconds) * 1000;
    const uint64_t real = virtualCard_ ? std::max<uint64_t>(asked / divisor_, minimumRealMicros_) : asked;
    std::this_thread::sleep_for(std::chrono::microseconds(real));
    AdvanceMicros();
}

bool VirtualCardClock::Now(LocalTime& out) { return RealClock().Now(out); }

void VirtualCardClock::PortOpened(const ComPort& port) {
    AdvanceMicros();   // the time so far runs at the pace of the port before
    virtualCard_ = port.IsVirtualCard();
}

uint32_t ClockScaleFromText(const char* text) {
    if (text == nullptr || *text == '\0') return 0;
    uint64_t value = 0;
    for (const char* at = text; *at != '\0'; ++at) {
        if (*at < '0' || *at > '9') return 0;
        value = value * 10 + static_cast<uint64_t>(*at - '0');
        if (value > kMaxClockScale) return 0;
    }
    return value > 1 ? static_cast<uint32_t>(value) : 0;
}

uint32_t ClockScaleFromEnvironment() { return ClockScaleFromText(std::getenv(kClockScaleVariable)); }

void InstallClockFromEnvironment() {
    static bool done = false;
    if (done) return;
    done = true;
    if (const uint32_t divisor = ClockScaleFromEnvironment(); divisor > 1) {
        static VirtualCardClock* const sped = new VirtualCardClock(divisor);
        SetClock(sped);
    }
}

bool IsPseudoTerminalUnixPath(const std::string& unixPath) {
    const std::string prefix = "/dev/pts/";
    if (unixPath.compare(0, prefix.size(), prefix) != 0 || unixPath.size() == prefix.size()) return false;
    return unixPath.find_first_not_of("0123456789", prefix.size()) == std::string::npos;
}

}  // namespace platform

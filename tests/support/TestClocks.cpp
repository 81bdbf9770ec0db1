#include "tests/support/TestClocks.h"

#include "platform/SteadyTime.h"

#include <algorithm>
#include <chrono>
#include <thread>

namespace platform {

RecordingClock::RecordingClock(LocalTime now) : now_(now) {}

uint32_t RecordingClock::TickCount() {
    std::lock_guard<std::mutex> lock(mutex_);
    return ticks_;
}

void RecordingClock::Sleep(uint32_t milliseconds) {
    std::lock_guard<std::mutex> lock(mutex_);
    pauses_.push_back(milliseconds);
    ticks_ += milliseconds;
}

bool RecordingClock::Now(LocalTime& out) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!available_) {
        return false;
    }
    out = now_;
    return true;
}

std::vector<uint32_t> RecordingClock::Pauses() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return pauses_;
}

void RecordingClock::ClearPauses() {
    std::lock_guard<std::mutex> lock(mutex_);
    pauses_.clear();
}

void RecordingClock::Advance(uint32_t milliseconds) {
    std::lock_guard<std::mutex> lock(mutex_);
    ticks_ += milliseconds;
}

void RecordingClock::SetNow(LocalTime now, bool available) {
    std::lock_guard<std::mutex> lock(mutex_);
    now_ = now;
    available_ = available;
}

ScaledClock::ScaledClock(uint32_t divisor, uint32_t minimumRealMicros)
    : divisor_(std::max<uint32_t>(divisor, 1)), minimumRealMicros_(minimumRealMicros), startMicros_(SteadyMicros()) {}

uint32_t ScaledClock::TickCount() {
    const uint64_t elapsed = SteadyMicros() - startMicros_;
    return static_cast<uint32_t>(elapsed * divisor_ / 1000);
}

void ScaledClock::Sleep(uint32_t milliseconds) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        pauses_.push_back(milliseconds);
    }
    const uint64_t realMicros =
        std::max<uint64_t>(static_cast<uint64_t>(milliseconds) * 1000 / divisor_, minimumRealMicros_);
    std::this_thread::sleep_for(std::chrono::microseconds(realMicros));
}

bool ScaledClock::Now(LocalTime& out) { return RealClock().Now(out); }

std::vector<uint32_t> ScaledClock::Pauses() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return pauses_;
}

}  // namespace platform

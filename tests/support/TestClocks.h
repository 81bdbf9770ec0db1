// Clocks for tests and benchmarks (not shipped). Install one with platform::SetClock; the real clock is
// restored with SetClock(nullptr).
#pragma once

#include <cstdint>
#include <mutex>
#include <vector>

#include "platform/Platform.h"

namespace platform {

// Virtual time: Sleep returns at once and advances the tick count by the
// pause; every pause asked for is recorded in order. Thread-safe.
class RecordingClock : public Clock {
public:
    explicit RecordingClock(LocalTime now = {2027, 1, 3, 9, 7, 5});
    uint32_t TickCount() override;
    void Sleep(uint32_t milliseconds) override;
    bool Now(LocalTime& out) override;

    std::vector<uint32_t> Pauses() const;
    void ClearPauses();
    void Advance(uint32_t milliseconds);
    void SetNow(LocalTime now, bool available = true);

private:
    mutable std::mutex mutex_;
    uint32_t ticks_ = 0;
    std::vector<uint32_t> pauses_;
    LocalTime now_;
    bool available_ = true;
};

// Real time made faster: a pause of n ms sleeps n / divisor ms of real time
// (at least minimumRealMicros), while the tick count runs divisor times
// faster than real time, so timeouts and pauses keep their proportions.
// Pauses are recorded as asked for.
class ScaledClock : public Clock {
public:
    explicit ScaledClock(uint32_t divisor, uint32_t minimumRealMicros = 200);
    uint32_t TickCount() override;
    void Sleep(uint32_t milliseconds) override;
    bool Now(LocalTime& out) override;
    std::vector<uint32_t> Pauses() const;

private:
    mutable std::mutex mutex_;
    uint32_t divisor_;
    uint32_t minimumRealMicros_;
    uint64_t startMicros_;
    std::vector<uint32_t> pauses_;
};

}  // namespace platform

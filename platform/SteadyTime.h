// Microseconds of the steady clock, for the clocks that measure real time.
#pragma once

#include <chrono>
#include <cstdint>

namespace platform {

inline uint64_t SteadyMicros() {
    return static_cast<uint64_t>(
        std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now().time_since_epoch())
            .count());
}

}  // namespace platform

// How long each phase of a run took, told from the progress values the
// module reports: each phase starts at the first value at or above its mark.
#pragma once

#include <chrono>
#include <string>
#include <utility>
#include <vector>

#include "upgrade/run/ProgressAnchors.h"

namespace fwupgrade {

// Progress 6 comes just before the card is taken out of its firmware.
constexpr int kSwitchProgress = upgrade::kProgressSwitch;

// The phases of a run: prepare, backup, switch, images, reset, restore.
constexpr size_t kPhaseCount = 6;
constexpr size_t kImagesPhase = 3;
size_t PhaseOf(int percent);
const char* PhaseName(size_t phase);

class PhaseTimes {
public:
    using Clock = std::chrono::steady_clock;

    explicit PhaseTimes(Clock::time_point start);
    void Progress(int percent, Clock::time_point now);
    // Phases reached so far, in order, with seconds spent in each; the
    // current one runs until `now`.
    std::vector<std::pair<std::string, double>> Durations(Clock::time_point now) const;

private:
    struct Entered {
        size_t phase;
        Clock::time_point at;
    };
    std::vector<Entered> entered_;
};

}  // namespace fwupgrade

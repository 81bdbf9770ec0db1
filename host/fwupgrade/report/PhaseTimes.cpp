#include "host/fwupgrade/report/PhaseTimes.h"

namespace fwupgrade {

namespace {

struct Phase {
    const char* name;
    int from;
};

const Phase kPhases[kPhaseCount] = {
    {"prepare", 0},
    {"backup", upgrade::kProgressBackup},
    {"switch", upgrade::kProgressSwitch},
    {"images", upgrade::kProgressImages},
    {"reset", upgrade::kProgressReset},
    {"restore", upgrade::kProgressRestore},
};

}  // namespace

size_t PhaseOf(int percent) {
    size_t phase = 0;
    while (phase + 1 < kPhaseCount && percent >= kPhases[phase + 1].from) ++phase;
    return phase;
}

const char* PhaseName(size_t phase) { return kPhases[phase].name; }

PhaseTimes::PhaseTimes(Clock::time_point start) { entered_.push_back({0, start}); }

void PhaseTimes::Progress(int percent, Clock::time_point now) {
    if (percent >= 100) return;
    const size_t phase = PhaseOf(percent);
    if (phase > entered_.back().phase) entered_.push_back({phase, now});
}

std::vector<std::pair<std::string, double>> PhaseTimes::Durations(Clock::time_point now) const {
    std::vector<std::pair<std::string, double>> durations;
    for (size_t i = 0; i < entered_.size(); ++i) {
        const Clock::time_point end = i + 1 < entered_.size() ? entered_[i + 1].at : now;
        const double seconds = std::chrono::duration<double>(end - entered_[i].at).count();
        durations.emplace_back(kPhases[entered_[i].phase].name, seconds);
    }
    return durations;
}

}  // namespace fwupgrade

// The module's trace, read as the run's progress: which phase the run is in,
// which step of the sequence it took last, and the step a failed run ended in.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace matrix {

enum class Phase { Identify, Backup, Switch, Load, Flash, Restore };
constexpr int kPhaseCount = 6;
const char* PhaseName(Phase phase);

class TraceSteps {
public:
    // Takes the trace sink over for the whole program.
    static TraceSteps& Install();

    void Reset();
    Phase CurrentPhase() const { return phase_; }
    const std::string& Step() const { return step_; }
    // The step the run last took before it gave up ("" when it did not).
    const std::string& FailedStep() const { return failedStep_; }
    bool Saw(const std::string& part) const;

    // Called at each step line, before the step runs.
    std::function<void(const std::string& step)> onStep;

    // One trace line of the given function.
    void Take(const std::string& function, const std::string& message);

private:

    Phase phase_ = Phase::Identify;
    std::string step_;
    std::string failedStep_;
    std::vector<std::string> lines_;
};

}  // namespace matrix

// One scenario of the fault matrix, start to end: a clean run of the same
// card tells which request the fault hits, the faulted run goes as far as
// it goes (in a child process that is killed, for a dying host), then the
// retry or rescue a user would make, and the checks that the card is flashed
// and holds, and a kept backup holds, the data it had before.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tests/matrix/Scenarios.h"

namespace matrix {

struct Outcome {
    int32_t result = 0;         // of the faulted run; kKilled for a killed host
    std::string failedStep;     // the step the trace shows it ended in
    int32_t expectedResult = 0;
    std::string expectedStep;
    std::string request;        // the request a command fault hit: mode, code, occurrence
    std::string why;            // why the outcome is not simply the step failing
    std::string recovery;       // "none", "retry", "rescue", "restore", with "replug, " before when needed
    int32_t recoveryResult = 0;
    std::vector<std::string> problems;   // every way the card or its backup falls short
};

// Sets up the host side once per program: manager, module library, trace.
void StartHost();

Outcome RunScenario(const Scenario& scenario);

// The step text without its digits: a step and its second attempt are one.
std::string StepKind(const std::string& step);

}  // namespace matrix

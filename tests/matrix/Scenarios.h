// The fault matrix as a table: each row kind (phase x fault x occurrence,
// re-enumerations, NV and EFS refusals, blocks, killed hosts, card kinds)
// expands into scenarios, each with the outcome it must have.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sim/card/Faults.h"
#include "tests/matrix/TraceSteps.h"

namespace matrix {

// A Q7k card; an ordinary card on a package with another partition layout
// (the override, cefs and the restore follow); an ordinary card on its own
// layout (flashed without cefs, its data never leaves it).
enum class CardKind { Q7k, Override, SameTable };
const char* CardKindName(CardKind kind);

enum class Position { First, Middle, Last };
const char* PositionName(Position position);

constexpr int32_t kKilled = 1;   // the host was killed: no result code

struct Scenario {
    std::string name;
    CardKind card = CardKind::Q7k;
    std::string fault;   // what goes wrong, for the table

    // A command fault: the request at `position` of `phase` in a clean run
    // of this card, and every later request with its code, get `kind`
    // until the phase ends.
    bool commandFault = false;
    sim::FaultKind kind = sim::FaultKind::Silence;
    Phase phase = Phase::Identify;
    Position position = Position::First;

    // Otherwise: fault rules for the whole first run and the expected outcome.
    std::vector<std::string> rules;
    std::string killAtStep;   // the host dies as it reaches this step
    int32_t result = 0;
    std::string failedStep;   // "" when the run succeeds
};

std::vector<Scenario> AllScenarios();

// What a command fault on the request at `position` of `phase` leads to:
// the run goes on (`survives`) or ends -13314 in `failsAt` ("" for the step
// that sent the request), and why, when that is not simply the step failing.
struct CommandOutcome {
    bool survives = false;
    std::string failsAt;
    std::string why;
};
CommandOutcome ExpectedCommandOutcome(Phase phase, Position position, sim::FaultKind kind);

}  // namespace matrix

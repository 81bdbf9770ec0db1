// The virtual card's clock as this program sees it: how much of the
// plug-in's pauses pass in real time under FWUPGRADE_CLOCK_SCALE.
#pragma once

#include <string>

namespace fwupgrade {

// How much of each of the module's pauses passes in real time on this
// device: 1/N for a virtual card's pseudo-terminal under
// FWUPGRADE_CLOCK_SCALE=N, else 1.
double PauseScaleOf(const std::string& devicePath);

}  // namespace fwupgrade

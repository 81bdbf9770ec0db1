// The virtual card's clock as this program sees it: how much of the
// plug-in's pauses pass in real time under FWUPGRADE_CLOCK_SCALE.
#pragma once

#include <string>

namespace fwupgrade {

// With FWUPGRADE_CLOCK_SCALE set (tests, the demo), the linked module's
// pauses run faster while its port is a virtual card's, as the plug-in's do.
void InstallVirtualCardClock();

// How much of each of the module's pauses passes in real time on this
// device: 1/N for a virtual card's pseudo-terminal under
// FWUPGRADE_CLOCK_SCALE=N, else 1.
double PauseScaleOf(const std::string& devicePath);

}  // namespace fwupgrade

// The module's operations linked into this program: the commands beside
// `upgrade` (backup, restore, rescue) and the look at a card after a failed
// run call them directly instead of through the plug-in, with the trace
// records and progress values routed to the same callbacks a plug-in run
// feeds. One operation at a time per process.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "host/fwupgrade/TraceLine.h"
#include "upgrade/FWUpgradeDataCDMAW326Module.h"

namespace fwupgrade {

class LinkedModule {
public:
    LinkedModule(std::function<void(const TraceEntry&)> onTrace, std::function<void(int)> onProgress);
    ~LinkedModule();
    LinkedModule(const LinkedModule&) = delete;
    LinkedModule& operator=(const LinkedModule&) = delete;

    upgrade::UpgradeModule& Module() { return module_; }

private:
    upgrade::UpgradeModule module_;
};

// How much of each of the module's pauses passes in real time on this
// device: 1/N for a virtual card's pseudo-terminal under
// FWUPGRADE_CLOCK_SCALE=N, else 1.
double PauseScaleOf(const std::string& devicePath);

// The state of the card on COM port `port` (the port pattern maps it), from
// its answers; nothing is traced.
upgrade::CardState ProbeCard(int32_t port);

}  // namespace fwupgrade

// What a run's trace tells beyond its result: the card's software version
// before the flash, whether the card was restarted into the new firmware,
// and the losses the module only traces and carries on after (a Wi-Fi
// address or lock files not carried over, a version that could not be read).
#pragma once

#include <string>
#include <vector>

#include "host/fwupgrade/TraceLine.h"

namespace fwupgrade {

struct RunFindings {
    std::string softwareVersion;        // as SelectPhoneType traced it; empty when not read
    bool resetTraced = false;           // "Function: ResetMobileSDP" was reached
    std::vector<std::string> losses;    // plain sentences, in the order they happened
};

class FindingsTracker {
public:
    void Add(const TraceEntry& entry);
    const RunFindings& Findings() const { return findings_; }

private:
    void AddLoss(const std::string& text);
    RunFindings findings_;
};

}  // namespace fwupgrade

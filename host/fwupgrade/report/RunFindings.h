// What a run's events tell beyond its result: the step it is in, the card's
// software version before the flash, whether the card was restarted into
// the new firmware, and what of its data the run let go of and carried on
// without, in sentences.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "host/fwupgrade/plugin/PluginOperations.h"

namespace fwupgrade {

struct RunFindings {
    int32_t step = -1;                  // the step the run is in; -1 before the first
    std::string softwareVersion;        // as the card reported it; empty when not read
    uint32_t cardEsn = 0;               // as the outcome names the card; 0 when unknown
    bool resetReached = false;          // the card was restarted into the new firmware
    std::vector<std::string> losses;    // plain sentences, in the order they happened
};

// The sentence for a loss; empty for an item the card keeps to itself by design.
std::string LossSentence(const CardLoss& loss);

class FindingsTracker {
public:
    void OnStep(int32_t step);
    void OnLoss(const CardLoss& loss);
    void OnOutcome(const CardOutcome& outcome);
    const RunFindings& Findings() const { return findings_; }

private:
    void AddLoss(const std::string& text);
    RunFindings findings_;
    size_t notTriedItems_ = 0;
};

}  // namespace fwupgrade

// Turns the module's trace of a run that did not succeed into a few lines a
// user understands: the step that failed, in plain words, and the module's
// own trace line that says why.
#pragma once

#include <cstdint>
#include <deque>
#include <optional>
#include <string>

#include "host/fwupgrade/TraceLine.h"

namespace fwupgrade {

// Exit statuses of the program.
constexpr int kExitOk = 0;
constexpr int kExitOther = 1;
constexpr int kExitUsage = 2;
constexpr int kExitRejected = 3;
constexpr int kExitFailed = 4;

int ExitStatusFor(int32_t resultCode);

// The plain words for a step line of the run ("Function: SwitchToDownload"
// -> "switching the card to download mode"); nullopt for lines that are not
// steps (progress, file checks, port details).
std::optional<std::string> DescribeStep(const std::string& message);

struct FailureSummary {
    std::string headline;              // "The upgrade failed while writing system.img."
    std::optional<TraceEntry> step;    // the run's line for that step
    std::optional<TraceEntry> reason;  // the line that says why
};

// trace: the records of the run in order (the tail is enough).
FailureSummary SummarizeFailure(int32_t resultCode, const std::deque<TraceEntry>& trace);

}  // namespace fwupgrade

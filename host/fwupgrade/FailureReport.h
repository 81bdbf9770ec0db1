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
// The card's device could not be opened, checked before the plug-in loads.
constexpr int kExitNoDevice = 5;
constexpr int kExitDeviceDenied = 6;
constexpr int kExitDeviceBusy = 7;
// The module does not support the card's USB identity (message 1026);
// nothing was sent to the card.
constexpr int kExitUnsupported = 8;
constexpr int kExitInterrupted = 130;   // stopped by a signal, as a shell reports SIGINT

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

// Follows a run's trace record by record and keeps only what the summary
// needs, so the failing step is known however many lines follow it.
class FailureTracker {
public:
    void Add(const TraceEntry& entry);
    FailureSummary Summarize(int32_t resultCode) const;
    // The plain words of the last step the run reached; empty before any.
    const std::string& CurrentStep() const { return stepWords_; }

private:
    std::optional<TraceEntry> step_;
    std::string stepWords_;
    std::optional<TraceEntry> sentence_;      // ", Since <reason>" after the step
    std::optional<TraceEntry> failureLine_;   // any other failure line after it
    std::optional<TraceEntry> missingFile_;   // the package check's last refusal
    bool ended_ = false;                      // the failure procedure has run
};

// trace: the records of the run in order.
FailureSummary SummarizeFailure(int32_t resultCode, const std::deque<TraceEntry>& trace);

}  // namespace fwupgrade

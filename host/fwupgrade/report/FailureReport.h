// The program's exit statuses, and a run that did not succeed in a few lines
// a user understands: the step that failed and why, in plain words, from the
// outcome the plug-in reports.
#pragma once

#include <cstdint>
#include <string>

#include "host/fwupgrade/plugin/PluginOperations.h"

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

struct FailureSummary {
    std::string headline;   // "The upgrade failed while writing the partition table and the images: ..."
    std::string step;       // the step it failed in, in words
    std::string reason;     // why, in words
};

// A failed operation in words, from the outcome the plug-in reported (none:
// a plug-in that reports no outcome); `operation` is "upgrade" or "rescue".
FailureSummary SummarizeOutcome(int32_t resultCode, const CardOutcome* outcome, const std::string& operation);

}  // namespace fwupgrade

#include "host/fwupgrade/RunFindings.h"

#include <algorithm>

namespace fwupgrade {

namespace {

bool EndsWith(const std::string& text, const std::string& suffix) {
    return text.size() >= suffix.size() && text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

struct LossLine {
    const char* trace;   // the module's line, trailing blanks ignored
    const char* words;
};

// The module's own lines for what it lets go and carries on without.
const LossLine kLossLines[] = {
    {"backup wifi failed,make sure the wifi address be written!",
     "The Wi-Fi address could not be read before the flash, so it was not written back: check it and write it again."},
    {"The phone software do not support reading wifi address command",
     "The card's software cannot report its Wi-Fi address, so it was not saved or written back."},
    {"Execute WriteWiFiAddress2 function fail", "The Wi-Fi address could not be written back to the card."},
    {"function EnumAllAbsoluteFilePathInEfsDir fail",
     "The card's lock files could not be listed, so they were not saved or restored."},
    {"Execute RestoreLockFile function fail",
     "The lock files could not be restored to the card; the lock backup file keeps them."},
    {"Execute SelectPhoneType function fail",
     "The card's software version could not be read, so the card was treated as not a Q7k card."},
};

std::string WithoutTrailingBlanks(std::string text) {
    while (!text.empty() && text.back() == ' ') text.pop_back();
    return text;
}

}  // namespace

void FindingsTracker::AddLoss(const std::string& text) {
    auto& losses = findings_.losses;
    if (std::find(losses.begin(), losses.end(), text) == losses.end()) losses.push_back(text);
}

void FindingsTracker::Add(const TraceEntry& entry) {
    const std::string message = WithoutTrailingBlanks(entry.message);
    if (EndsWith(entry.function, "::SelectPhoneType")) {
        // Its lines are the request, the markers ("Execute ...") and, in
        // between, the version text itself.
        const bool ownLine = message.rfind("Function: ", 0) == 0 || message.rfind("Execute ", 0) == 0;
        if (!ownLine && findings_.softwareVersion.empty()) findings_.softwareVersion = message;
        return;
    }
    if (!EndsWith(entry.function, "::FirmWareUpgrade")) return;
    if (message == "Function: ResetMobileSDP") findings_.resetTraced = true;
    for (const auto& loss : kLossLines)
        if (message == loss.trace) AddLoss(loss.words);
}

}  // namespace fwupgrade

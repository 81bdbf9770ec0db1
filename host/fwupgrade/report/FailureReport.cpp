#include "host/fwupgrade/report/FailureReport.h"

#include "host/fwupgrade/report/EventWords.h"

namespace fwupgrade {

namespace {

constexpr int32_t kRejected = -13313;
constexpr int32_t kFailed = -13314;

}  // namespace

int ExitStatusFor(int32_t resultCode) {
    if (resultCode == 0) return kExitOk;
    if (resultCode == kRejected) return kExitRejected;
    if (resultCode == kFailed) return kExitFailed;
    return kExitOther;
}

FailureSummary SummarizeOutcome(int32_t resultCode, const CardOutcome* outcome, const std::string& operation) {
    FailureSummary summary;
    if (resultCode == kRejected) {
        summary.headline = "The package was rejected by the module's file check.";
        summary.reason = ReasonWords(FWUP_REASON_PACKAGE);
        return summary;
    }
    if (resultCode != kFailed) {
        summary.headline = "The module answered an unexpected result code " + std::to_string(resultCode) + ".";
        return summary;
    }
    if (outcome == nullptr || !outcome->reported) {
        summary.headline = "The " + operation + " failed.";
        return summary;
    }
    summary.step = StepWords(outcome->failedStep);
    summary.reason = ReasonWords(outcome->reason);
    summary.headline = "The " + operation + " failed while " + summary.step + ": " + summary.reason + ".";
    return summary;
}

}  // namespace fwupgrade

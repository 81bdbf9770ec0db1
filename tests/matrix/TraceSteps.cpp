#include "tests/matrix/TraceSteps.h"

#include "platform/Platform.h"
#include "platform/Trace.h"

namespace matrix {
namespace {

const char* const kSequence = "CFWUpgradeDataCDMA7627Module::FirmWareUpgrade";
const char* const kDealError = "CFWUpgradeDataCDMA7627Module::DealError";

struct PhaseStart {
    const char* step;
    Phase phase;
};
constexpr PhaseStart kPhaseStarts[] = {
    {"Function: CreateNVBackupDirectory", Phase::Backup},
    {"Function: SwitchToDownload", Phase::Switch},
    {"Function: DownloadArmPrg", Phase::Load},
    {"Function: DownloadPartitionTable", Phase::Flash},
    {"Function: ResetMobileSDP", Phase::Restore},
};

// Lines of the sequence that name a step, not a progress mark or a failure.
bool IsStep(const std::string& message) {
    const bool named = message.rfind("Function: ", 0) == 0 || message.rfind("Execute ", 0) == 0 ||
                       message == "EnumAllAbsoluteFilePathInEfsDir";
    return named && message.find("fail") == std::string::npos && message.rfind("Function: ShowRatio", 0) != 0;
}

TraceSteps* g_steps = nullptr;

void Sink(const char16_t*, int, const char16_t* function, const char16_t* message) {
    if (g_steps) g_steps->Take(platform::WideToUtf8(function), platform::WideToUtf8(message));
}

}  // namespace

const char* PhaseName(Phase phase) {
    constexpr const char* kNames[] = {"identify", "backup", "switch", "load", "flash", "restore"};
    return kNames[static_cast<int>(phase)];
}

TraceSteps& TraceSteps::Install() {
    static TraceSteps steps;
    g_steps = &steps;
    platform::SetTraceSink(&Sink);
    return steps;
}

void TraceSteps::Reset() {
    phase_ = Phase::Identify;
    step_.clear();
    failedStep_.clear();
    lines_.clear();
}

bool TraceSteps::Saw(const std::string& part) const {
    for (const std::string& line : lines_)
        if (line.find(part) != std::string::npos) return true;
    return false;
}

void TraceSteps::Take(const std::string& function, const std::string& message) {
    lines_.push_back(message);
    if (function == kDealError && failedStep_.empty()) failedStep_ = step_;
    if (function != kSequence || !IsStep(message)) return;
    // A phase's first step repeated (the partition table with the override) stays in it.
    for (const PhaseStart& start : kPhaseStarts)
        if (message == start.step && static_cast<int>(start.phase) > static_cast<int>(phase_)) phase_ = start.phase;
    step_ = message;
    if (onStep) onStep(message);
}

}  // namespace matrix

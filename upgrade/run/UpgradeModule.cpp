// The module object's operations that are a whole run: each starts the
// events, runs its plan and reports its outcome.
#include "upgrade/run/UpgradeModule.h"

namespace upgrade {

UpgradeModule::UpgradeModule(ProgressReporter reporter) : reporter_(std::move(reporter)) {}

int32_t UpgradeModule::FirmWareUpgrade(int32_t port, const std::u16string& packageFolder) {
    reporter_.Start();
    const int32_t result = sequence_.Upgrade(RunPlan::Upgrade(), port, packageFolder);
    ReportOutcome(result, packageFolder);
    return result;
}

int32_t UpgradeModule::RescueCard(int32_t port, const std::u16string& packageFolder, const std::u16string& fromFolder,
                                  bool withoutData) {
    reporter_.Start();
    const int32_t result = sequence_.Rescue(RunPlan::Rescue(fromFolder, withoutData), port, packageFolder);
    ReportOutcome(result, packageFolder);
    return result;
}

void UpgradeModule::ReportOutcome(int32_t result, const std::u16string& packageFolder) {
    reporter_.ReportOutcome(result, packageFolder, keeper_, data_);
}

}  // namespace upgrade

// The module object's construction and its progress report.
#include "upgrade/run/UpgradeModule.h"

namespace upgrade {

UpgradeModule::UpgradeModule(ProgressReporter reporter) : reporter_(std::move(reporter)) {}

void UpgradeModule::ShowRatio(int percent) {
    if (reporter_) reporter_(percent);
    if (m_Events) m_Events->OnProgress(percent);
}

}  // namespace upgrade

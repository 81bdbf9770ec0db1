#include "upgrade/run/RunEvents.h"

namespace upgrade {

int StepAnchor(RunStep step) {
    switch (step) {
        case RunStep::Prepare: return 0;
        case RunStep::Backup: return kProgressBackup;
        case RunStep::Switch: return kProgressSwitch;
        case RunStep::Images: return kProgressImages;
        case RunStep::Reset: return kProgressReset;
        case RunStep::Restore: return kProgressRestore;
    }
    return 0;
}

}  // namespace upgrade

#include "module/Application.h"

#include "module/LogRecord.h"
#include "module/Register.h"
#include "platform/VirtualCardClock.h"
#include "upgrade/run/UpgradeModule.h"

namespace module {

bool CFWUpgradePhoneWCDMAMSM7627App::InitInstance(platform::LibraryHandle ownLibrary) {
    GetRegister().SetModuleInstance(ownLibrary);
    InstallTraceSink();
    // Success whatever the extraction gave: the run reports a missing programmer.
    (void)upgrade::UpgradeModule::ExtractProgrammer();
    return true;
}

void InitialiseLibrary() {
    static bool done = false;
    if (done) {
        return;
    }
    done = true;
    // For the virtual card and tests only: the clock speeds up only while the
    // open port is a virtual card's, so a real card is never driven with it.
    platform::InstallClockFromEnvironment();
    static CFWUpgradePhoneWCDMAMSM7627App* const application = new CFWUpgradePhoneWCDMAMSM7627App();
    application->InitInstance(platform::OwnLibraryHandle());
}

}  // namespace module

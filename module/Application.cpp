#include "module/Application.h"

#include <cstdlib>
#include <cstring>

#include "module/LogRecord.h"
#include "module/Register.h"
#include "platform/VirtualCardClock.h"
#include "upgrade/FWUpgradeDataCDMAW326Module.h"

namespace module {

bool CFWUpgradePhoneWCDMAMSM7627App::InitInstance(platform::LibraryHandle ownLibrary) {
    GetRegister().SetModuleInstance(ownLibrary);
    InstallTraceSink();
    // Success whatever the extraction gave: the run reports a missing programmer.
    (void)upgrade::UpgradeModule::ExtractProgrammer();
    return true;
}

uint32_t ClockScaleFromText(const char* text) {
    if (text == nullptr || *text == '\0') {
        return 0;
    }
    char* end = nullptr;
    const unsigned long value = std::strtoul(text, &end, 10);
    if (*end != '\0' || text[0] == '-' || text[0] == '+' || value <= 1 || value > 1000000) {
        return 0;
    }
    return static_cast<uint32_t>(value);
}

void InitialiseLibrary() {
    static bool done = false;
    if (done) {
        return;
    }
    done = true;
    // For the virtual card and tests only: the clock speeds up only while the
    // open port is a virtual card's, so a real card is never driven with it.
    if (const uint32_t divisor = ClockScaleFromText(std::getenv(kClockScaleVariable)); divisor > 1) {
        static platform::VirtualCardClock* const sped = new platform::VirtualCardClock(divisor);
        platform::SetClock(sped);
    }
    static CFWUpgradePhoneWCDMAMSM7627App* const application = new CFWUpgradePhoneWCDMAMSM7627App();
    application->InitInstance(platform::OwnLibraryHandle());
}

}  // namespace module

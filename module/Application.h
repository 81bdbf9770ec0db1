// The application object of the library and its load-time initialisation.
// POSIX runs InitialiseLibrary from a library constructor; the Windows build
// runs it from DllMain on DLL_PROCESS_ATTACH.
#pragma once

#include "platform/Platform.h"

namespace module {

class CFWUpgradePhoneWCDMAMSM7627App {
public:
    // Stores the library's own handle in the registry wrapper, installs the
    // trace sink and extracts the flash programmer. Always reports success.
    bool InitInstance(platform::LibraryHandle ownLibrary);
};

// The environment variable that speeds up the clock for the virtual card.
constexpr const char* kClockScaleVariable = "FWUPGRADE_CLOCK_SCALE";

// The divisor FWUPGRADE_CLOCK_SCALE asks for: an integer above 1, else 0.
uint32_t ClockScaleFromText(const char* text);

// Runs once per process, however often it is called.
void InitialiseLibrary();

}  // namespace module

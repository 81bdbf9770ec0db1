// The application object of the library and its load-time initialisation.
// POSIX runs InitialiseLibrary from a library constructor; the Windows build
// runs it from DllMain on DLL_PROCESS_ATTACH.
#pragma once

#include "platform/Platform.h"
#include "platform/VirtualCardClock.h"

namespace module {

class CFWUpgradePhoneWCDMAMSM7627App {
public:
    // Stores the library's own handle in the registry wrapper, installs the
    // trace sink and extracts the flash programmer. Always reports success.
    bool InitInstance(platform::LibraryHandle ownLibrary);
};

// The clock-scale setting and its one parser live in the platform layer,
// shared with fwupgrade; these names stay for the module's own callers.
using platform::ClockScaleFromText;
using platform::kClockScaleVariable;

// Runs once per process, however often it is called.
void InitialiseLibrary();

}  // namespace module

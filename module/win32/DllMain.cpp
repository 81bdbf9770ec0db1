// The DLL's entry point: the application's load-time initialisation runs when
// the host loads the library, as the POSIX build runs it from a library
// constructor.
#include "module/Application.h"
#include "platform/win32/WinApi.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        // No per-thread work: spare the loader the thread notifications.
        ::DisableThreadLibraryCalls(instance);
        module::InitialiseLibrary();
    }
    return TRUE;
}

// Load-time initialisation of the shared library on POSIX (Windows runs the
// same from DllMain).
#include "module/Application.h"

namespace {

__attribute__((constructor)) void OnLibraryLoad() { module::InitialiseLibrary(); }

}  // namespace

// The records shared with the host have their 32-bit Windows sizes in this
// build; a wrong size stops the build here.
#include <cstddef>

#include "module/DualString.h"
#include "module/LogRecord.h"
#include "module/ModuleRoute.h"
#include "module/UpgradeRequest.h"

static_assert(sizeof(void*) == 4, "the Windows plug-in is a 32-bit library");
static_assert(sizeof(module::DualString) == 12);
static_assert(sizeof(module::UpgradeRequest) == 48);
static_assert(offsetof(module::UpgradeRequest, port) == 8);
static_assert(offsetof(module::UpgradeRequest, packageFolder) == 16);
static_assert(sizeof(module::LogRecord) == 1136);
static_assert(offsetof(module::LogRecord, message) == 1124);
static_assert(sizeof(module::ModuleRoute) == 36);
static_assert(sizeof(wchar_t) == 2);

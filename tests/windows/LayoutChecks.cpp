// The records shared with the host have the sizes of a Windows build of this
// pointer width (32-bit: the host application's; 64-bit: the same fields,
// pointers 8 bytes wide and aligned); a wrong size stops the build here.
#include <cstddef>

#include "module/DualString.h"
#include "module/LogRecord.h"
#include "module/ModuleRoute.h"
#include "module/UpgradeRequest.h"

static_assert(sizeof(wchar_t) == 2);

#if defined(_WIN64)
static_assert(sizeof(void*) == 8, "a 64-bit Windows build has 8-byte pointers");
static_assert(sizeof(module::DualString) == 24);
static_assert(sizeof(module::UpgradeRequest) == 80);
static_assert(offsetof(module::UpgradeRequest, port) == 8);
static_assert(offsetof(module::UpgradeRequest, packageFolder) == 16);
static_assert(offsetof(module::UpgradeRequest, text6) == 48);
static_assert(sizeof(module::LogRecord) == 1152);
static_assert(offsetof(module::LogRecord, message) == 1128);
static_assert(sizeof(module::ModuleRoute) == 56);
static_assert(offsetof(module::ModuleRoute, inBuffer) == 16);
static_assert(offsetof(module::ModuleRoute, resultBuffer) == 48);
#else
static_assert(sizeof(void*) == 4, "a 32-bit Windows build has 4-byte pointers");
static_assert(sizeof(module::DualString) == 12);
static_assert(sizeof(module::UpgradeRequest) == 48);
static_assert(offsetof(module::UpgradeRequest, port) == 8);
static_assert(offsetof(module::UpgradeRequest, packageFolder) == 16);
static_assert(offsetof(module::UpgradeRequest, text6) == 32);
static_assert(sizeof(module::LogRecord) == 1136);
static_assert(offsetof(module::LogRecord, message) == 1124);
static_assert(sizeof(module::ModuleRoute) == 36);
static_assert(offsetof(module::ModuleRoute, inBuffer) == 16);
static_assert(offsetof(module::ModuleRoute, resultBuffer) == 32);
#endif

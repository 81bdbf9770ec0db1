// The C interface of the test's module-manager DLL (fw_wintest_manager): the
// plug-in reaches it through the register (identifier 256, instance 1) like
// the host's own manager; the test program reads what it received.
#pragma once

#include <cstdint>

extern "C" {
// Forgets everything received so far.
typedef void (*RecordingManagerResetFn)();
// Number of trace records received (log module 266, message 1026).
typedef int32_t (*RecordingManagerLogCountFn)();
// Trace record index: its message text and function name (UTF-16, NUL-
// terminated, cut to capacity units); kind and line through out values.
// Returns false for an index out of range.
typedef bool (*RecordingManagerLogFn)(int32_t index, wchar_t* message, int32_t messageCapacity, wchar_t* function,
                                      int32_t functionCapacity, int32_t* kind, int32_t* line);
// Number of progress reports (display module 260, message 1028) and one of them.
typedef int32_t (*RecordingManagerProgressCountFn)();
typedef bool (*RecordingManagerProgressFn)(int32_t index, int32_t* first, int32_t* second, int32_t* percent);
}

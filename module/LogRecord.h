// The trace record handed to the host's log module (identifier 266,
// instance 1, message 1026). The receiver reads it by offset:
//      0  72  time text, UTF-16 "hh:mm:ss yyyy-mm-dd", at most 30 units
//     72   2  kind, always 61
//     74 520  source file name (after the last backslash), UTF-16
//    594   2  zero
//    596   4  line
//    600 520  function name, UTF-16
//   1120   4  thread id
//   1124  12  message: a DualString in place (1128/24 on a 64-bit build)
// 1136 bytes on a 32-bit build, 1152 on a 64-bit one. Every byte not
// written is zero.
#pragma once

#include <cstddef>
#include <cstdint>

#include "module/DualString.h"
#include "platform/Platform.h"

namespace module {

constexpr int32_t kLogModuleId = 266;
constexpr int32_t kLogInstance = 1;
constexpr int32_t kLogMessage = 1026;
constexpr uint16_t kLogKind = 61;

constexpr size_t kLogTimeOffset = 0;
constexpr size_t kLogTimeUnits = 30;   // terminator included
constexpr size_t kLogKindOffset = 72;
constexpr size_t kLogFileOffset = 74;
constexpr size_t kLogNameUnits = 260;  // terminator included
constexpr size_t kLogLineOffset = 596;
constexpr size_t kLogFunctionOffset = 600;
constexpr size_t kLogThreadOffset = 1120;
#if UINTPTR_MAX == 0xFFFFFFFF
constexpr size_t kLogMessageOffset = 1124;
constexpr size_t kLogRecordSize = 1136;
#else
constexpr size_t kLogMessageOffset = 1128;
constexpr size_t kLogRecordSize = 1152;
#endif

// The record as a structure, for the layout checks below; it is filled and
// read by offset.
struct LogRecord {
    char16_t time[36];
    uint16_t kind;
    char16_t file[260];
    uint16_t padding;
    int32_t line;
    char16_t function[260];
    uint32_t threadId;
    DualString message;
};
static_assert(offsetof(LogRecord, time) == kLogTimeOffset);
static_assert(offsetof(LogRecord, kind) == kLogKindOffset);
static_assert(offsetof(LogRecord, file) == kLogFileOffset);
static_assert(offsetof(LogRecord, padding) == 594);
static_assert(offsetof(LogRecord, line) == kLogLineOffset);
static_assert(offsetof(LogRecord, function) == kLogFunctionOffset);
static_assert(offsetof(LogRecord, threadId) == kLogThreadOffset);
static_assert(offsetof(LogRecord, message) == kLogMessageOffset);
static_assert(sizeof(LogRecord) == kLogRecordSize);

// Raw storage for one record, aligned for the string placed in it.
struct alignas(alignof(DualString)) LogRecordBytes {
    uint8_t bytes[kLogRecordSize];
};

// The file name a record carries: the text after the last backslash.
const char16_t* FileNameOf(const char16_t* sourcePath);

// Fills a zeroed record with the given fields and places a DualString copy
// of the message at its offset. The caller must call ReleaseLogRecord.
void BuildLogRecord(LogRecordBytes& record, const platform::LocalTime& time, const char16_t* sourcePath, int line,
                    const char16_t* function, uint32_t threadId, const char16_t* message);
// Frees the message copies placed by BuildLogRecord.
void ReleaseLogRecord(LogRecordBytes& record);

// The trace sink of the module: builds the record and delivers it through
// the module-manager agent; no failure reaches the caller.
void SendTraceRecord(const char16_t* file, int line, const char16_t* function, const char16_t* message);

// Installs SendTraceRecord as the sink of platform::WriteLog.
void InstallTraceSink();

}  // namespace module

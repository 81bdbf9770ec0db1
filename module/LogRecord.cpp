#include "module/LogRecord.h"

#include <cstring>
#include <new>

#include "module/ModuleManagerAgent.h"
#include "platform/Trace.h"

namespace module {

namespace {

// Copies at most capacity - 1 units and always leaves a terminator
// (the record is zeroed beforehand).
void PutText(LogRecordBytes& record, size_t offset, size_t capacity, const char16_t* text) {
    size_t units = 0;
    while (units + 1 < capacity && text[units] != u'\0') {
        ++units;
    }
    std::memcpy(record.bytes + offset, text, units * sizeof(char16_t));
}

DualString* MessageField(LogRecordBytes& record) {
    return std::launder(reinterpret_cast<DualString*>(record.bytes + kLogMessageOffset));
}

}  // namespace

const char16_t* FileNameOf(const char16_t* sourcePath) {
    const char16_t* name = sourcePath;
    for (const char16_t* p = sourcePath; *p != u'\0'; ++p) {
        if (*p == u'\\') {
            name = p + 1;
        }
    }
    return name;
}

void BuildLogRecord(LogRecordBytes& record, const platform::LocalTime& time, const char16_t* sourcePath, int line,
                    const char16_t* function, uint32_t threadId, const char16_t* message) {
    std::memset(record.bytes, 0, sizeof record.bytes);
    new (record.bytes + kLogMessageOffset) DualString(message);

    std::memcpy(record.bytes + kLogThreadOffset, &threadId, sizeof threadId);
    const uint16_t kind = kLogKind;
    std::memcpy(record.bytes + kLogKindOffset, &kind, sizeof kind);
    PutText(record, kLogFileOffset, kLogNameUnits, FileNameOf(sourcePath));
    const int32_t line32 = line;
    std::memcpy(record.bytes + kLogLineOffset, &line32, sizeof line32);
    PutText(record, kLogFunctionOffset, kLogNameUnits, function);

    char16_t timeText[kLogTimeUnits] = {};
    platform::FormatWideTo(timeText, kLogTimeUnits, u"%02d:%02d:%02d %04d-%02d-%02d", time.hour, time.minute,
                         time.second, time.year, time.month, time.day);
    PutText(record, kLogTimeOffset, kLogTimeUnits, timeText);
}

void ReleaseLogRecord(LogRecordBytes& record) { MessageField(record)->~DualString(); }

void SendTraceRecord(const char16_t* file, int line, const char16_t* function, const char16_t* message) {
    if (file == nullptr || line < 0 || function == nullptr || message == nullptr) {
        return;
    }
    // The time is taken after formatting: it marks the moment of sending.
    platform::LocalTime now;
    if (!platform::GetClock().Now(now)) {
        return;
    }
    LogRecordBytes record;
    BuildLogRecord(record, now, file, line, function, platform::CurrentThreadId(), message);
    int32_t result = 0;
    GetModuleManagerAgent().SendModuleMessage(kLogModuleId, kLogInstance, kLogMessage, record.bytes,
                                              static_cast<int32_t>(kLogRecordSize), nullptr, 0, &result,
                                              sizeof result);
    ReleaseLogRecord(record);
}

void InstallTraceSink() { platform::SetTraceSink(&SendTraceRecord); }

}  // namespace module

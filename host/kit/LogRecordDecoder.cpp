// Reads the trace record and writes the upgrade request by offset, with the
// offsets written out here rather than taken from the module's own headers,
// so that a layout fault in the module shows up in the tests.
#include <cstring>

#include "host/kit/HostKit.h"

namespace hostkit {

namespace {

constexpr size_t kPointer = sizeof(void*);
#if UINTPTR_MAX == 0xFFFFFFFF
constexpr size_t kMessageOffset = 1124;
constexpr size_t kRecordSize = 1136;
constexpr size_t kRequestSize = 48;
#else
constexpr size_t kMessageOffset = 1128;
constexpr size_t kRecordSize = 1152;
constexpr size_t kRequestSize = 80;
#endif

// Reads a NUL-terminated UTF-16 text of a field; true when every byte after
// the terminator up to the end of the field is zero.
bool ReadField(const uint8_t* bytes, size_t offset, size_t fieldBytes, std::u16string& text) {
    text.clear();
    size_t position = 0;
    for (; position + 1 < fieldBytes; position += 2) {
        char16_t unit;
        std::memcpy(&unit, bytes + offset + position, 2);
        if (unit == u'\0') {
            break;
        }
        text.push_back(unit);
    }
    for (; position < fieldBytes; ++position) {
        if (bytes[offset + position] != 0) {
            return false;
        }
    }
    return true;
}

}  // namespace

size_t LogRecordSize() { return kRecordSize; }
size_t UpgradeRequestSize() { return kRequestSize; }

DecodedLogRecord DecodeLogRecord(const uint8_t* bytes) {
    DecodedLogRecord record;
    bool zero = ReadField(bytes, 0, 72, record.time);
    std::memcpy(&record.kind, bytes + 72, 2);
    zero = ReadField(bytes, 74, 520, record.file) && zero;
    zero = zero && bytes[594] == 0 && bytes[595] == 0;
    std::memcpy(&record.line, bytes + 596, 4);
    zero = ReadField(bytes, 600, 520, record.function) && zero;
    std::memcpy(&record.threadId, bytes + 1120, 4);
    for (size_t i = 1124; i < kMessageOffset; ++i) {
        zero = zero && bytes[i] == 0;
    }
    record.unusedBytesZero = zero;

    const char* narrow = nullptr;
    const char16_t* wide = nullptr;
    std::memcpy(&narrow, bytes + kMessageOffset, kPointer);
    std::memcpy(&wide, bytes + kMessageOffset + kPointer, kPointer);
    std::memcpy(&record.messageLength, bytes + kMessageOffset + 2 * kPointer, 4);
    if (wide != nullptr && record.messageLength > 0) {
        record.message.assign(wide, static_cast<size_t>(record.messageLength));
    }
    if (narrow != nullptr) {
        record.narrowMessage = narrow;
    }
    return record;
}

void BuildUpgradeRequest(uint8_t* bytes, int32_t port, const char16_t* folderText, int32_t folderLength) {
    std::memset(bytes, 0, kRequestSize);
    std::memcpy(bytes + 8, &port, 4);
    // The folder string: narrow pointer (none), wide pointer, length.
    std::memcpy(bytes + 16 + kPointer, &folderText, kPointer);
    std::memcpy(bytes + 16 + 2 * kPointer, &folderLength, 4);
}

}  // namespace hostkit

// The trace call every layer makes. Lower layers only format; the host
// boundary installs the sink that turns a trace line into a record for the
// host's log module. With no sink installed a trace call does nothing.
#pragma once

#include <cstdarg>
#include <cstdint>
#include <string>

namespace platform {

// Receives one formatted trace line. file, function and message are
// NUL-terminated UTF-16; file is the caller's source path as given.
using TraceSink = void (*)(const char16_t* file, int line, const char16_t* function, const char16_t* message);

void SetTraceSink(TraceSink sink);

// Formats like the wide printf family (%d %i %u %x %X %c %s %ls %S %%, flags,
// width, precision, the l/ll/h length modifiers; %s takes a char16_t text).
// Writes at most capacity units including the terminator; returns the units
// written without it. Never writes past capacity.
size_t FormatWide(char16_t* buffer, size_t capacity, const char16_t* format, va_list args);
std::u16string FormatWide(const char16_t* format, ...);
// The same into a fixed buffer.
size_t FormatWideTo(char16_t* buffer, size_t capacity, const char16_t* format, ...);

// WriteLog: nothing happens for a null file, function or format or a negative
// line; otherwise the message is formatted into 4096 units and handed to the
// sink. A message from outside the program (device text, a path) is always
// passed as an argument of a fixed format, never as the format.
void WriteLog(const char16_t* file, int line, const char16_t* function, const char16_t* format, ...);

}  // namespace platform

// Source names as the trace records carry them.
#define FW_MODULE_SOURCE u".\\FWUpgradeDataCDMAW326Module.cpp"
#define FW_SERIAL_SOURCE u"..\\packet\\Serial"
#define FW_PACKET_SOURCE u"..\\packet\\Packet.cpp"

// FW_TRACE(u"CFWUpgradeDataCDMA7627Module::InitPort", u"Function: pPacket->Open")
#define FW_TRACE(function, ...) ::platform::WriteLog(FW_MODULE_SOURCE, __LINE__, function, __VA_ARGS__)

// One trace record of the module as the program shows it: a text line with
// the time, the thread, file:line, the function and the message.
#pragma once

#include <cstdint>
#include <string>

namespace fwupgrade {

struct TraceEntry {
    std::string time;       // "21:05:31 2026-12-06" as the module stamped it
    uint32_t thread = 0;
    std::string file;
    int line = 0;
    std::string function;   // "CFWUpgradeDataCDMA7627Module::InitPort"
    std::string message;
};

// "21:05:31 2026-12-06 [4711] Serial:120 CSerial::Open: Function: CSerial::Open"
std::string FormatTraceLine(const TraceEntry& entry);

// Control characters in texts that come from the card or a path are shown
// escaped so that a log line always stays one line.
std::string Printable(const std::string& text);

}  // namespace fwupgrade

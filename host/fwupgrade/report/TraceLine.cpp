#include "host/fwupgrade/report/TraceLine.h"

#include <cstdio>

namespace fwupgrade {

std::string Printable(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (unsigned char c : text) {
        if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\t') {
            out += "\\t";
        } else if (c < 0x20 || c == 0x7F) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            out += hex;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

std::string FormatTraceLine(const TraceEntry& entry) {
    std::string line = Printable(entry.time);
    line += " [" + std::to_string(entry.thread) + "] ";
    line += Printable(entry.file) + ":" + std::to_string(entry.line) + " ";
    line += Printable(entry.function) + ": ";
    line += Printable(entry.message);
    return line;
}

}  // namespace fwupgrade

#include "host/fwupgrade/station/bus/PortPatterns.h"

#include <fnmatch.h>

#include <sstream>

namespace fwupgrade::station {

bool PortServed(const std::vector<std::string>& patterns, const std::string& usbPort) {
    if (patterns.empty()) return true;
    for (const auto& pattern : patterns)
        if (::fnmatch(pattern.c_str(), usbPort.c_str(), 0) == 0) return true;
    return false;
}

std::string PortToStop(const std::string& line, std::string& error) {
    std::istringstream words(line);
    std::string verb, port, extra;
    words >> verb >> port >> extra;
    if (verb.empty()) return {};
    if (verb != "stop" || port.empty() || !extra.empty()) {
        error = "not understood: '" + line + "' (the station takes \"stop <usb port>\")";
        return {};
    }
    return port;
}

}  // namespace fwupgrade::station

// The ports a station serves: every port, or those matching one of the
// --usb-port patterns (shell wildcards: "1-1.*" takes every port of that hub).
#pragma once

#include <string>
#include <vector>

namespace fwupgrade::station {

bool PortServed(const std::vector<std::string>& patterns, const std::string& usbPort);

// A line of the station's input: "stop 1-1.2" names the port to stop;
// nullopt-like "" for anything else, with `error` saying why.
std::string PortToStop(const std::string& line, std::string& error);

}  // namespace fwupgrade::station

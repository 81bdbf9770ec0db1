// The `fwupgrade rescue` command a user is told to run for a card left in its
// boot downloader or flash programmer, naming the card as it can be found
// again: by its USB port when it is pinned to one, else by its device or COM
// number.
#pragma once

#include <cstdint>
#include <string>

namespace fwupgrade {

// A word a POSIX shell takes as it is.
std::string ShellWord(const std::string& text);

// "fwupgrade rescue --usb-port 1-1.2:1.1 --package /pkg"; `usbPin` wins over
// `device`, which wins over `port`.
std::string RescueCommandFor(const std::string& usbPin, const std::string& device, int32_t port,
                             const std::string& package);

}  // namespace fwupgrade

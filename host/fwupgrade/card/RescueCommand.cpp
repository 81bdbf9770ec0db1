#include "host/fwupgrade/card/RescueCommand.h"

namespace fwupgrade {

std::string ShellWord(const std::string& text) {
    if (!text.empty() && text.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_-./:=@%+,") ==
                             std::string::npos)
        return text;
    std::string quoted = "'";
    for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

std::string RescueCommandFor(const std::string& usbPin, const std::string& device, int32_t port,
                             const std::string& package) {
    // A pinned card is named by its USB port: its device path does not
    // outlive the card's restarts.
    const std::string card = !usbPin.empty()  ? "--usb-port " + ShellWord(usbPin)
                             : device.empty() ? "--port " + std::to_string(port)
                                              : "--device " + ShellWord(device);
    return "fwupgrade rescue " + card + " --package " + ShellWord(package);
}

}  // namespace fwupgrade

// Which card a run drives and how the module's COM opener finds it again at
// each open. A card on a USB port is followed by that port: at each of its
// mode changes it comes back as a new USB device, maybe under another tty
// number, and only the port it is plugged into stays the same. A device that
// is not on USB (a virtual card's pseudo-terminal) is opened by its path.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/posix/UsbSerial.h"

namespace fwupgrade {

// A card as the user named it: one of the two is set.
struct CardName {
    std::string device;    // --device PATH
    std::string usbPort;   // --usb-port PORT or PORT:CONFIG.INTERFACE
    std::string Label() const;   // the device path, or "USB port PORT"
};

// "1-1.2", or "1-1.2:1.N" when the pin names interface N.
std::string PinName(const platform::posix::UsbPin& pin);

// The USB port a card is on now. For --usb-port without an interface the
// port must hold one serial interface, or the run could open the card's
// modem port; with several the error lists them. For --device: the port
// the device sits on, or nullopt without an error when it is not a USB port.
std::optional<platform::posix::UsbPin> PinOfCard(const CardName& card, const platform::posix::UsbTree& tree,
                                                 std::string& error);

struct CardAim {
    std::string pinName;       // the pin as commands name it ("1-1.2:1.1"); "" when opened by its path
    // The pin the module follows: the port alone when the named interface is
    // the one the card is driven through, so that the card is found on the
    // interface it is driven through after each mode change (the flash
    // programmer's only interface 0 may be the firmware's modem interface).
    std::string followedPin;
    std::string note;          // one line for the user
};

// Points this process's COM opener at the card (FWUPGRADE_USB_PORT and
// FWUPGRADE_USB_INTERFACE, or FWUPGRADE_PORT_PATTERN for a plain path).
// False with an error when the card's name does not resolve.
bool AimAtCard(const CardName& card, CardAim& aim, std::string& error);

}  // namespace fwupgrade

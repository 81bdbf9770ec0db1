// Reaching a card's serial port on its USB port: the interface to drive it
// through once the kernel has shown its ttys, which come a moment after the
// USB device itself, and a node this user may open (the rules may still be
// setting its permissions, or a prober may hold it for a moment).
#pragma once

#include <string>

namespace fwupgrade::station {

struct PortReach {
    std::string usbPin;     // "1-1.2:1.1", as --usb-port takes it; "" when no tty showed up
    std::string problem;    // why the node cannot be opened; "" when it can
};

// Waits up to about five seconds for both; a pause of the station's own,
// the card is sent nothing.
PortReach ReachCardPort(const std::string& usbPort);

// True when the card folder's package view holds a backup record whose
// restore is pending: a run on this port left the card outside its firmware.
bool HasPendingRecord(const std::string& packageView);

}  // namespace fwupgrade::station

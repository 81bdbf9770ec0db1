// The cards plugged in, one entry per card rather than per serial interface:
// the USB devices of the card's vendor, each with the port to use. Used by
// `detect`, and by the commands that name no card, which take the only one.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "host/fwupgrade/card/CardAim.h"
#include "host/fwupgrade/card/SerialScan.h"

namespace fwupgrade {

struct FoundCard {
    std::string usbPort;                    // "1-1.2"
    uint16_t vendor = 0;
    uint16_t product = 0;
    SerialDevice port;                      // the interface to drive the card through
    std::vector<SerialDevice> interfaces;   // every serial interface the device shows
    bool canOpen = false;                   // this user may open `port`
};

// The USB serial devices below the trees, one entry per USB device: those of
// the card's vendor (packet/CardIdentity.h), or every one with `anyVendor`.
std::vector<FoundCard> ScanCards(const std::string& sysRoot, const std::string& devRoot, bool anyVendor = false);

// The interface a card is driven through: a usb-serial one before a cdc-acm
// one (the card's modem port), then the lowest interface number.
const SerialDevice& PortToUse(const std::vector<SerialDevice>& interfaces);

// The --usb-port name ("1-1.2:1.1") of the interface the card on `usbPort`
// is driven through, as detect names it; "" when the port shows no serial
// interface. Every hint that names an interface comes from here.
std::string UsbPortToUse(const std::string& sysRoot, const std::string& devRoot, const std::string& usbPort);

// "No card found: ..." naming the identity looked for.
std::string NoCardFoundText();

// For a command that named no card: the only card plugged in. False with
// the exit status and words when there is none, or several (listed).
bool ChooseOnlyCard(const std::string& sysRoot, const std::string& devRoot, CardName& card, std::string& note,
                    int& exitStatus, std::string& error);

}  // namespace fwupgrade

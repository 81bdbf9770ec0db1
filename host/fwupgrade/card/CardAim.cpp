#include "host/fwupgrade/card/CardAim.h"

#include <cstdlib>

#include "host/fwupgrade/card/CardScan.h"

namespace fwupgrade {

namespace {

using platform::posix::UsbPin;
using platform::posix::UsbTree;

// USB configuration 1: the number only shapes the interface's name; the
// pin is matched by interface number.
constexpr const char* kInterfaceNamePart = ":1.";

std::string InterfaceList(const std::vector<platform::posix::UsbSerialInterface>& interfaces) {
    std::string text;
    for (const auto& candidate : interfaces)
        text += (text.empty() ? "" : ", ") + candidate.interfaceName + " (" + candidate.ttyName + ")";
    return text;
}

std::optional<UsbPin> PinOfUsbPort(const std::string& text, const UsbTree& tree, std::string& error) {
    std::optional<UsbPin> pin = platform::posix::ParseUsbPortName(text);
    if (!pin) {
        error = "'" + text + "' is not a USB port: give its sysfs name, such as 1-1.2, or 1-1.2:1.0 for one interface";
        return std::nullopt;
    }
    if (pin->interfaceNumber >= 0) return pin;
    const auto interfaces = platform::posix::SerialInterfacesOf(tree, pin->usbPort);
    if (interfaces.empty()) {
        error = "Nothing with a serial port is plugged in at USB port " + pin->usbPort +
                " (fwupgrade detect lists the cards and their USB ports).";
        return std::nullopt;
    }
    if (interfaces.size() > 1) {
        error = "USB port " + pin->usbPort + " has " + std::to_string(interfaces.size()) +
                " serial interfaces: " + InterfaceList(interfaces) + ". The card is driven through --usb-port " +
                UsbPortToUse(tree.sysRoot, tree.devRoot, pin->usbPort) + " (as fwupgrade detect names it).";
        return std::nullopt;
    }
    pin->interfaceNumber = interfaces.front().interfaceNumber;
    return pin;
}

}  // namespace

std::string CardName::Label() const { return device.empty() ? "USB port " + usbPort : device; }

std::string PinName(const UsbPin& pin) {
    return pin.interfaceNumber < 0 ? pin.usbPort : pin.usbPort + kInterfaceNamePart + std::to_string(pin.interfaceNumber);
}

std::optional<UsbPin> PinOfCard(const CardName& card, const UsbTree& tree, std::string& error) {
    if (!card.usbPort.empty()) return PinOfUsbPort(card.usbPort, tree, error);
    return platform::posix::PinOfDevice(tree, card.device);
}

namespace {

// A pin on the interface the card is driven through now is held by its port
// alone; a pin on another interface is the user's choice and kept.
UsbPin FollowedPin(const UsbTree& tree, UsbPin pin) {
    const auto driven = platform::posix::InterfaceToDrive(platform::posix::SerialInterfacesOf(tree, pin.usbPort));
    if (driven && driven->interfaceNumber == pin.interfaceNumber) pin.interfaceNumber = -1;
    return pin;
}

}  // namespace

bool AimAtCard(const CardName& card, CardAim& aim, std::string& error) {
    aim = CardAim{};
    if (card.device.empty() && card.usbPort.empty()) return true;   // a COM number: the pattern maps it
    const UsbTree tree = platform::posix::UsbTreeFromEnvironment();
    const std::optional<UsbPin> pin = PinOfCard(card, tree, error);
    if (!error.empty()) return false;
    if (!pin) {
        // The serial layer maps the COM number through this pattern; a
        // pattern without %d names one device whatever the number.
        if (card.device.find('%') != std::string::npos) {
            error = "The device path must not contain '%'.";
            return false;
        }
        ::setenv("FWUPGRADE_PORT_PATTERN", card.device.c_str(), 1);
        return true;
    }
    const UsbPin followed = FollowedPin(tree, *pin);
    platform::posix::SetPinInEnvironment(followed);
    aim.pinName = PinName(*pin);
    aim.followedPin = PinName(followed);
    const auto now = platform::posix::ResolvePinnedTty(tree, *pin);
    aim.note = "Following the card on USB port " + pin->usbPort + ", interface " + std::to_string(pin->interfaceNumber) +
               (now ? " (now " + *now + ")" : "") + ", through its restarts.";
    return true;
}

}  // namespace fwupgrade

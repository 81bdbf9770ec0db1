// Finding a card's serial device by where it is plugged in. A card that
// re-enumerates (into its boot downloader, its flash programmer, back into
// its firmware) comes back as a new USB device: its by-id name changes with
// its product ID, and its tty may come back under another number. The USB
// port it sits on (the sysfs name of its USB device, such as "1-1.2") stays
// the same while it stays in the same socket, so a card is pinned by that
// port and its tty is looked up under the port at each open.
//
// The tree is read the way the kernel lays it out, below a sysfs root:
//   bus/usb/devices/<port>/idVendor, idProduct
//   bus/usb/devices/<port>:<config>.<interface>/bInterfaceNumber
//   .../<port>:<config>.<interface>/ttyUSB<n>       (usb-serial)
//   .../<port>:<config>.<interface>/tty/ttyACM<n>   (cdc-acm)
// and the node is <dev root>/<tty name>. A tree of plain folders and a real
// /sys read alike.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace platform::posix {

struct UsbTree {
    std::string sysRoot = "/sys";
    std::string devRoot = "/dev";
};

// The tree named by FWUPGRADE_SYSFS_ROOT and FWUPGRADE_DEV_ROOT, else /sys and /dev.
UsbTree UsbTreeFromEnvironment();

// A card pinned to a USB port; interfaceNumber < 0 when any single serial
// interface will do.
struct UsbPin {
    std::string usbPort;
    int interfaceNumber = -1;
};

struct UsbSerialInterface {
    int interfaceNumber = -1;
    std::string interfaceName;   // "1-1.2:1.0"
    std::string ttyName;         // "ttyUSB3"
    std::string driver;          // "option", "cdc_acm", ...; "" when no driver is bound
};

// The USB ports that have a device plugged in (hubs' own ports included).
std::vector<std::string> OccupiedUsbPorts(const UsbTree& tree);

// The serial interfaces under a USB port, by interface number.
std::vector<UsbSerialInterface> SerialInterfacesOf(const UsbTree& tree, const std::string& usbPort);

// The vendor and product the port's device reports; nullopt when there is none.
std::optional<std::pair<uint16_t, uint16_t>> UsbIdentityOf(const UsbTree& tree, const std::string& usbPort);

// The order a card's interfaces are driven in: a usb-serial tty ("ttyUSB3")
// before a cdc-acm one (the card's modem port), then the lower interface number.
bool DrivenBefore(const std::string& ttyA, int interfaceA, const std::string& ttyB, int interfaceB);

// The interface the card is driven through (DrivenBefore); nullopt for none.
std::optional<UsbSerialInterface> InterfaceToDrive(const std::vector<UsbSerialInterface>& interfaces);

// Which of the port's serial interfaces a pinned card is on now: the pinned
// interface when it is there, else the only one; a card pinned by its port
// alone, the one it is driven through (after a mode change, where the card
// may show several). nullopt when the port has no serial interface, or
// several of which none is the pinned one.
std::optional<UsbSerialInterface> ChooseInterface(const std::vector<UsbSerialInterface>& interfaces, int pinned);

// The device node of the pinned card's tty now; nullopt when nothing fits.
std::optional<std::string> ResolvePinnedTty(const UsbTree& tree, const UsbPin& pin);

// The USB port and interface of a serial device path: a tty node, a link to
// one (a by-id name), or a link to a link. nullopt when the device is not a
// USB serial port (a pseudo-terminal, a missing path).
std::optional<UsbPin> PinOfDevice(const UsbTree& tree, const std::string& devicePath);

// Parses "1-1.2" or "1-1.2:1.0" (a USB port, or one interface of it).
// nullopt when the text is neither.
std::optional<UsbPin> ParseUsbPortName(const std::string& text);

// The pin the current process runs with: FWUPGRADE_USB_PORT (port name)
// and FWUPGRADE_USB_INTERFACE (interface number); nullopt when unset.
std::optional<UsbPin> PinFromEnvironment();
void SetPinInEnvironment(const UsbPin& pin);

// The pin the serial layer follows: one set by the plug-in's caller for its
// operation, else the environment's.
std::optional<UsbPin> ActivePin();
void SetPinOverride(std::optional<UsbPin> pin);

}  // namespace platform::posix

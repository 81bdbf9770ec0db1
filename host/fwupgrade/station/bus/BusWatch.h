// The USB bus as the station sees it, through libudev: the USB devices
// plugged in at start, then each one that comes or goes, from the monitor of
// processed events (the "udev" group), so the rules have set the
// permissions of its nodes by the time the station hears of it.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

struct udev;
struct udev_monitor;
struct udev_device;

namespace fwupgrade::station {

struct UsbChange {
    bool added = true;        // false: the device left the bus
    std::string usbPort;      // "1-1.2": the device's sysfs name, the port it is plugged into
    uint16_t vendor = 0;      // unknown (0) on removal
    uint16_t product = 0;
};

class BusWatch {
public:
    BusWatch() = default;
    ~BusWatch();
    BusWatch(const BusWatch&) = delete;
    BusWatch& operator=(const BusWatch&) = delete;

    // Starts the monitor before the enumeration, so nothing plugged in
    // between the two is missed.
    bool Open(std::string& error);
    // The USB devices on the bus now.
    std::vector<UsbChange> PluggedIn();
    // The descriptor to poll for changes.
    int Descriptor() const;
    // True while a change waits to be read.
    bool Pending() const;
    // The next change, once the descriptor is readable; nullopt for an
    // event that is not about a USB device.
    std::optional<UsbChange> NextChange();

private:
    udev* udev_ = nullptr;
    udev_monitor* monitor_ = nullptr;
};

// The change a USB device stands for; nullopt for interfaces and others.
std::optional<UsbChange> ChangeOf(udev_device* device, bool added);

}  // namespace fwupgrade::station

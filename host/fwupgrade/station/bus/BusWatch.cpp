#include "host/fwupgrade/station/bus/BusWatch.h"

#include <libudev.h>
#include <poll.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace fwupgrade::station {

namespace {

uint16_t HexAttribute(udev_device* device, const char* name) {
    const char* text = udev_device_get_sysattr_value(device, name);
    if (text == nullptr) text = udev_device_get_property_value(device, name);
    return text == nullptr ? 0 : static_cast<uint16_t>(std::strtoul(text, nullptr, 16));
}

}  // namespace

std::optional<UsbChange> ChangeOf(udev_device* device, bool added) {
    const char* type = udev_device_get_devtype(device);
    if (type == nullptr || std::strcmp(type, "usb_device") != 0) return std::nullopt;
    const char* name = udev_device_get_sysname(device);
    if (name == nullptr) return std::nullopt;
    UsbChange change;
    change.added = added;
    change.usbPort = name;
    if (added) {
        change.vendor = HexAttribute(device, "idVendor");
        change.product = HexAttribute(device, "idProduct");
    }
    return change;
}

BusWatch::~BusWatch() {
    if (monitor_ != nullptr) udev_monitor_unref(monitor_);
    if (udev_ != nullptr) udev_unref(udev_);
}

bool BusWatch::Open(std::string& error) {
    udev_ = udev_new();
    if (udev_ == nullptr) {
        error = "cannot reach udev";
        return false;
    }
    monitor_ = udev_monitor_new_from_netlink(udev_, "udev");
    if (monitor_ == nullptr || udev_monitor_filter_add_match_subsystem_devtype(monitor_, "usb", "usb_device") < 0 ||
        udev_monitor_enable_receiving(monitor_) < 0) {
        error = std::string("cannot watch the USB bus through udev: ") + std::strerror(errno);
        return false;
    }
    return true;
}

std::vector<UsbChange> BusWatch::PluggedIn() {
    std::vector<UsbChange> found;
    udev_enumerate* list = udev_enumerate_new(udev_);
    if (list == nullptr) return found;
    udev_enumerate_add_match_subsystem(list, "usb");
    udev_enumerate_scan_devices(list);
    udev_list_entry* entry = nullptr;
    udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(list)) {
        udev_device* device = udev_device_new_from_syspath(udev_, udev_list_entry_get_name(entry));
        if (device == nullptr) continue;
        if (auto change = ChangeOf(device, true)) found.push_back(*change);
        udev_device_unref(device);
    }
    udev_enumerate_unref(list);
    return found;
}

int BusWatch::Descriptor() const { return monitor_ == nullptr ? -1 : udev_monitor_get_fd(monitor_); }

bool BusWatch::Pending() const {
    pollfd ready{Descriptor(), POLLIN, 0};
    return ::poll(&ready, 1, 0) > 0 && (ready.revents & POLLIN) != 0;
}

std::optional<UsbChange> BusWatch::NextChange() {
    udev_device* device = udev_monitor_receive_device(monitor_);
    if (device == nullptr) return std::nullopt;
    const char* action = udev_device_get_action(device);
    std::optional<UsbChange> change;
    if (action != nullptr && std::strcmp(action, "add") == 0) change = ChangeOf(device, true);
    if (action != nullptr && std::strcmp(action, "remove") == 0) change = ChangeOf(device, false);
    udev_device_unref(device);
    return change;
}

}  // namespace fwupgrade::station

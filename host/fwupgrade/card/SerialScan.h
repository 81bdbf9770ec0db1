// Serial devices of the machine with the USB identity of the device behind
// them, read from sysfs, so the module can be asked whether it supports them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace fwupgrade {

struct SerialDevice {
    std::string name;                    // "ttyUSB0"
    std::string path;                    // "/dev/ttyUSB0"
    std::vector<std::string> stableLinks;  // "/dev/serial/by-id/..." naming the same device
    uint16_t vendor = 0;
    uint16_t product = 0;
    std::string interfaceNumber;         // "00", "01", ... when the port is a USB interface
    std::string usbPort;                 // "1-1.2:1.0": the USB port and interface, as --usb-port takes it
    std::string driver;                  // the kernel driver of the interface ("option", "cdc_acm", ...)
};

// Lists the serial interfaces of the USB devices below
// <sysRoot>/bus/usb/devices, one per tty, with the device's identity and the
// USB port they sit on. devRoot is where the device nodes and
// /dev/serial/by-id live.
std::vector<SerialDevice> ScanSerialDevices(const std::string& sysRoot = "/sys", const std::string& devRoot = "/dev");

// The identity as message 1026 takes it: in memory the vendor number then
// the product number, each most significant byte first.
uint32_t IdentityForMessage(uint16_t vendor, uint16_t product);

}  // namespace fwupgrade

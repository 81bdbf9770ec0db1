// Keeps ModemManager away from a card for the length of a run. ModemManager
// probes every new serial device, and a card is a new USB device at each of
// its mode changes (into its boot downloader, its flash programmer, back into
// its firmware): a probe that reaches it in the boot downloader or the
// programmer can break the run. ModemManager leaves a USB device alone while
// a bus connection that asked it to (InhibitDevice) stays open, by the
// device's sysfs path. Anything that keeps the inhibition from happening is
// said in one line and the run goes on without it.
#pragma once

#include <functional>
#include <string>

#include "platform/posix/UsbSerial.h"

struct sd_bus;

namespace fwupgrade {

// The sysfs path ModemManager knows the device on a USB port by: the real
// path of <sys root>/bus/usb/devices/<port>. "" when nothing is plugged in.
std::string UsbDevicePath(const platform::posix::UsbTree& tree, const std::string& usbPort);

class ModemManagerInhibition {
public:
    using Say = std::function<void(const std::string& line)>;

    // `pinName` is the card's pin ("1-1.2:1.1"), "" for a card not on USB,
    // which needs nothing. The system bus, or FWUPGRADE_DBUS_ADDRESS when
    // set. `say` gets the one line on how it went.
    ModemManagerInhibition(const std::string& pinName, Say say);
    // Gives the card back and closes the connection.
    ~ModemManagerInhibition();
    ModemManagerInhibition(const ModemManagerInhibition&) = delete;
    ModemManagerInhibition& operator=(const ModemManagerInhibition&) = delete;

private:
    void Inhibit(const std::string& usbPort);

    Say say_;
    sd_bus* bus_ = nullptr;
    std::string uid_;
};

}  // namespace fwupgrade

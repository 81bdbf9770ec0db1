// The USB bus as libudev sees it, made by umockdev: USB devices on ports,
// and the uevents of their coming and going. Only the identity lives here;
// the card's serial interfaces and tty are cardsim's own stand-in sysfs and
// /dev, which fwupgrade resolves itself (umockdev's device nodes are no
// terminals).
#pragma once

#include <cstdint>
#include <map>
#include <string>

typedef struct _UMockdevTestbed UMockdevTestbed;

namespace fwupgrade::station_tests {

class UsbTestbed {
public:
    UsbTestbed();
    ~UsbTestbed();
    UsbTestbed(const UsbTestbed&) = delete;
    UsbTestbed& operator=(const UsbTestbed&) = delete;

    // A USB device of that identity on `port`, with an "add" uevent when `announce`.
    void Plug(const std::string& port, uint16_t vendor, uint16_t product, bool announce = true);
    // Its "remove" uevent, and it is gone.
    void Unplug(const std::string& port);
    // The card restarts into another mode: gone, and back with `product`.
    void Reenumerate(const std::string& port, uint16_t product);
    // Waits until a process listens for uevents (umockdev makes a socket
    // "event<fd>" in the testbed for each monitor); false after 10 s.
    bool WaitForListener() const;

private:
    UMockdevTestbed* testbed_ = nullptr;
    std::map<std::string, std::string> devices_;   // port -> sysfs path in the testbed
};

// True when this process runs under umockdev's preload.
bool UnderUmockdev();

}  // namespace fwupgrade::station_tests

// Whether the card's device can be opened by this user now, checked before
// the plug-in is loaded, so that a missing device, a device this user may
// not open and a device another process holds each get their own words and
// exit status instead of the module's twenty silent open attempts.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace fwupgrade {

struct DeviceAccess {
    int exitStatus = 0;   // 0, kExitNoDevice, kExitDeviceDenied or kExitDeviceBusy
    std::string problem;  // what is wrong and what to do, in words
};

// What is known of a device that did not open.
struct DeviceFacts {
    std::string path;
    std::string group;                  // the group that owns the node ("dialout")
    mode_t mode = 0;                    // its permission bits
    bool userInGroup = false;
    std::vector<std::string> holders;   // "minicom (pid 4242)"
};

// Opens the device as the module will (read and write, no controlling
// terminal, an exclusive advisory lock) and closes it again. Anything that is
// not a terminal (a file, a folder, /dev/null) is refused as no serial port.
DeviceAccess CheckDeviceAccess(const std::string& path);

// The device COM n stands for now: the tty under the pinned USB port, or
// the path the port pattern gives; "" when nothing is under the pinned port.
std::string CardDevicePathNow(int portNumber);

// CheckDeviceAccess on that device.
DeviceAccess CheckCardAccess(int portNumber);

// The words for a path that is not a serial port; `what` says what it is.
DeviceAccess NotASerialPort(const std::string& path, const std::string& what);

// The words for an open that failed with `error` (ENOENT, EACCES, EBUSY, ...).
DeviceAccess DescribeOpenFailure(int error, const DeviceFacts& facts);

// The processes that have `path` open, read from <procRoot>/<pid>/fd; this
// process and those whose descriptors this user may not read are left out.
std::vector<std::string> ProcessesHolding(const std::string& path, const std::string& procRoot = "/proc");

}  // namespace fwupgrade

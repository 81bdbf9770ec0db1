#include "host/fwupgrade/card/SerialScan.h"

#include <dirent.h>
#include <limits.h>
#include <stdlib.h>

#include <algorithm>
#include <cstdio>

#include "host/fwupgrade/card/CardAim.h"
#include "platform/posix/UsbSerial.h"

namespace fwupgrade {

namespace {

std::vector<std::string> Entries(const std::string& folder) {
    std::vector<std::string> names;
    DIR* dir = ::opendir(folder.c_str());
    if (dir == nullptr) return names;
    while (dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..") names.push_back(name);
    }
    ::closedir(dir);
    std::sort(names.begin(), names.end());
    return names;
}

std::string RealPath(const std::string& path) {
    char resolved[PATH_MAX];
    if (::realpath(path.c_str(), resolved) == nullptr) return {};
    return resolved;
}

}  // namespace

uint32_t IdentityForMessage(uint16_t vendor, uint16_t product) {
    const uint32_t b0 = vendor >> 8, b1 = vendor & 0xFFu, b2 = product >> 8, b3 = product & 0xFFu;
    return b0 | (b1 << 8) | (b2 << 16) | (b3 << 24);
}

std::vector<SerialDevice> ScanSerialDevices(const std::string& sysRoot, const std::string& devRoot) {
    std::vector<SerialDevice> devices;
    const platform::posix::UsbTree tree{sysRoot, devRoot};
    for (const auto& port : platform::posix::OccupiedUsbPorts(tree)) {
        const auto identity = platform::posix::UsbIdentityOf(tree, port);
        if (!identity) continue;
        for (const auto& found : platform::posix::SerialInterfacesOf(tree, port)) {
            SerialDevice device;
            device.name = found.ttyName;
            device.path = devRoot + "/" + found.ttyName;
            device.vendor = identity->first;
            device.product = identity->second;
            char number[4];
            std::snprintf(number, sizeof number, "%02x", static_cast<unsigned>(found.interfaceNumber));
            device.interfaceNumber = number;
            device.usbPort = PinName({port, found.interfaceNumber});
            device.driver = found.driver;
            devices.push_back(device);
        }
    }
    const std::string byId = devRoot + "/serial/by-id";
    for (const auto& link : Entries(byId)) {
        const std::string target = RealPath(byId + "/" + link);
        if (target.empty()) continue;
        const std::string base = target.substr(target.rfind('/') + 1);
        for (auto& device : devices)
            if (device.name == base) device.stableLinks.push_back(byId + "/" + link);
    }
    return devices;
}

}  // namespace fwupgrade

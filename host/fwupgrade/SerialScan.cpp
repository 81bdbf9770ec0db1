#include "host/fwupgrade/SerialScan.h"

#include <dirent.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <algorithm>
#include <fstream>

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

bool ReadFirstLine(const std::string& path, std::string& out) {
    std::ifstream in(path);
    if (!in || !std::getline(in, out)) return false;
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r' || out.back() == ' ')) out.pop_back();
    return true;
}

bool ReadHex16(const std::string& path, uint16_t& out) {
    std::string text;
    if (!ReadFirstLine(path, text) || text.empty() || text.size() > 4) return false;
    unsigned value = 0;
    for (char c : text) {
        value <<= 4;
        if (c >= '0' && c <= '9') value |= static_cast<unsigned>(c - '0');
        else if (c >= 'a' && c <= 'f') value |= static_cast<unsigned>(c - 'a' + 10);
        else if (c >= 'A' && c <= 'F') value |= static_cast<unsigned>(c - 'A' + 10);
        else return false;
    }
    out = static_cast<uint16_t>(value);
    return true;
}

std::string RealPath(const std::string& path) {
    char resolved[PATH_MAX];
    if (::realpath(path.c_str(), resolved) == nullptr) return {};
    return resolved;
}

bool Exists(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0;
}

}  // namespace

uint32_t IdentityForMessage(uint16_t vendor, uint16_t product) {
    const uint32_t b0 = vendor >> 8, b1 = vendor & 0xFFu, b2 = product >> 8, b3 = product & 0xFFu;
    return b0 | (b1 << 8) | (b2 << 16) | (b3 << 24);
}

std::vector<SerialDevice> ScanSerialDevices(const std::string& sysRoot, const std::string& devRoot) {
    std::vector<SerialDevice> devices;
    const std::string ttyClass = sysRoot + "/class/tty";
    const std::string stop = RealPath(sysRoot);
    for (const auto& name : Entries(ttyClass)) {
        std::string folder = RealPath(ttyClass + "/" + name + "/device");
        if (folder.empty()) continue;
        SerialDevice device;
        device.name = name;
        device.path = devRoot + "/" + name;
        ReadFirstLine(folder + "/bInterfaceNumber", device.interfaceNumber);
        bool found = false;
        // Walk up from the tty's device to the USB device that owns it.
        while (!folder.empty() && folder != stop && folder != "/") {
            if (Exists(folder + "/idVendor") && Exists(folder + "/idProduct")) {
                found = ReadHex16(folder + "/idVendor", device.vendor) && ReadHex16(folder + "/idProduct", device.product);
                break;
            }
            if (device.interfaceNumber.empty()) ReadFirstLine(folder + "/bInterfaceNumber", device.interfaceNumber);
            folder = folder.substr(0, folder.rfind('/'));
        }
        if (found) devices.push_back(device);
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

#include "platform/posix/UsbSerial.h"

#include <dirent.h>
#include <limits.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <fstream>

namespace platform::posix {

namespace {

constexpr const char* kSysRootVariable = "FWUPGRADE_SYSFS_ROOT";
constexpr const char* kDevRootVariable = "FWUPGRADE_DEV_ROOT";
constexpr const char* kPortVariable = "FWUPGRADE_USB_PORT";
constexpr const char* kInterfaceVariable = "FWUPGRADE_USB_INTERFACE";
constexpr int kMaxLinkHops = 16;

std::string DevicesFolder(const UsbTree& tree) { return tree.sysRoot + "/bus/usb/devices"; }

std::vector<std::string> Entries(const std::string& folder) {
    std::vector<std::string> names;
    DIR* dir = ::opendir(folder.c_str());
    if (dir == nullptr) return names;
    while (const dirent* entry = ::readdir(dir)) {
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
    while (!out.empty() && (out.back() == '\r' || out.back() == ' ')) out.pop_back();
    return true;
}

bool AllDigits(const std::string& text, size_t from, size_t to) {
    if (from >= to) return false;
    return std::all_of(text.begin() + static_cast<std::ptrdiff_t>(from), text.begin() + static_cast<std::ptrdiff_t>(to),
                       [](char c) { return c >= '0' && c <= '9'; });
}

std::optional<unsigned> ParseHex(const std::string& text, size_t maxDigits) {
    if (text.empty() || text.size() > maxDigits) return std::nullopt;
    unsigned value = 0;
    for (char c : text) {
        value <<= 4;
        if (c >= '0' && c <= '9') value |= static_cast<unsigned>(c - '0');
        else if (c >= 'a' && c <= 'f') value |= static_cast<unsigned>(c - 'a' + 10);
        else if (c >= 'A' && c <= 'F') value |= static_cast<unsigned>(c - 'A' + 10);
        else return std::nullopt;
    }
    return value;
}

// "ttyUSB<n>" or "ttyACM<n>".
bool IsUsbTtyName(const std::string& name) {
    const bool known = name.rfind("ttyUSB", 0) == 0 || name.rfind("ttyACM", 0) == 0;
    return known && AllDigits(name, 6, name.size());
}

// A port name: bus "-" port, then ".port" per hub, e.g. "1-1.2".
bool IsPortName(const std::string& text) {
    const size_t dash = text.find('-');
    if (dash == std::string::npos || !AllDigits(text, 0, dash)) return false;
    size_t from = dash + 1;
    while (true) {
        const size_t dot = text.find('.', from);
        const size_t end = dot == std::string::npos ? text.size() : dot;
        if (!AllDigits(text, from, end)) return false;
        if (dot == std::string::npos) return true;
        from = dot + 1;
    }
}

// The tty below an interface folder, usb-serial or cdc-acm style.
std::string TtyBelow(const std::string& interfaceFolder) {
    for (const auto& name : Entries(interfaceFolder))
        if (name.rfind("ttyUSB", 0) == 0 && IsUsbTtyName(name)) return name;
    for (const auto& name : Entries(interfaceFolder + "/tty"))
        if (IsUsbTtyName(name)) return name;
    return {};
}

std::string LinkTarget(const std::string& path) {
    char target[PATH_MAX];
    const ssize_t length = ::readlink(path.c_str(), target, sizeof target - 1);
    if (length <= 0) return {};
    const std::string text(target, static_cast<size_t>(length));
    if (text.front() == '/') return text;
    return path.substr(0, path.rfind('/') + 1) + text;
}

std::string BaseName(const std::string& path) { return path.substr(path.rfind('/') + 1); }

// The interface folder whose tty has this name.
std::optional<UsbPin> PinOfTty(const UsbTree& tree, const std::string& ttyName) {
    for (const auto& entry : Entries(DevicesFolder(tree))) {
        const size_t colon = entry.find(':');
        if (colon == std::string::npos || TtyBelow(DevicesFolder(tree) + "/" + entry) != ttyName) continue;
        std::string number;
        if (!ReadFirstLine(DevicesFolder(tree) + "/" + entry + "/bInterfaceNumber", number)) continue;
        const auto value = ParseHex(number, 2);
        if (value) return UsbPin{entry.substr(0, colon), static_cast<int>(*value)};
    }
    return std::nullopt;
}

}  // namespace

UsbTree UsbTreeFromEnvironment() {
    UsbTree tree;
    const char* sys = std::getenv(kSysRootVariable);
    const char* dev = std::getenv(kDevRootVariable);
    if (sys != nullptr && sys[0] != '\0') tree.sysRoot = sys;
    if (dev != nullptr && dev[0] != '\0') tree.devRoot = dev;
    return tree;
}

std::vector<std::string> OccupiedUsbPorts(const UsbTree& tree) {
    std::vector<std::string> ports;
    for (const auto& name : Entries(DevicesFolder(tree)))
        if (IsPortName(name)) ports.push_back(name);
    return ports;
}

std::vector<UsbSerialInterface> SerialInterfacesOf(const UsbTree& tree, const std::string& usbPort) {
    std::vector<UsbSerialInterface> found;
    const std::string prefix = usbPort + ":";
    for (const auto& name : Entries(DevicesFolder(tree))) {
        if (name.rfind(prefix, 0) != 0) continue;
        const std::string folder = DevicesFolder(tree) + "/" + name;
        std::string number;
        if (!ReadFirstLine(folder + "/bInterfaceNumber", number)) continue;
        const auto value = ParseHex(number, 2);
        const std::string tty = TtyBelow(folder);
        if (!value || tty.empty()) continue;
        found.push_back({static_cast<int>(*value), name, tty, BaseName(LinkTarget(folder + "/driver"))});
    }
    std::sort(found.begin(), found.end(),
              [](const UsbSerialInterface& a, const UsbSerialInterface& b) { return a.interfaceNumber < b.interfaceNumber; });
    return found;
}

std::optional<std::pair<uint16_t, uint16_t>> UsbIdentityOf(const UsbTree& tree, const std::string& usbPort) {
    std::string vendor, product;
    const std::string folder = DevicesFolder(tree) + "/" + usbPort;
    if (!ReadFirstLine(folder + "/idVendor", vendor) || !ReadFirstLine(folder + "/idProduct", product))
        return std::nullopt;
    const auto v = ParseHex(vendor, 4), p = ParseHex(product, 4);
    if (!v || !p) return std::nullopt;
    return std::make_pair(static_cast<uint16_t>(*v), static_cast<uint16_t>(*p));
}

bool DrivenBefore(const std::string& ttyA, int interfaceA, const std::string& ttyB, int interfaceB) {
    const bool serialA = ttyA.rfind("ttyUSB", 0) == 0, serialB = ttyB.rfind("ttyUSB", 0) == 0;
    if (serialA != serialB) return serialA;
    return interfaceA < interfaceB;
}

std::optional<UsbSerialInterface> InterfaceToDrive(const std::vector<UsbSerialInterface>& interfaces) {
    const auto best = std::min_element(interfaces.begin(), interfaces.end(), [](const auto& a, const auto& b) {
        return DrivenBefore(a.ttyName, a.interfaceNumber, b.ttyName, b.interfaceNumber);
    });
    if (best == interfaces.end()) return std::nullopt;
    return *best;
}

std::optional<UsbSerialInterface> ChooseInterface(const std::vector<UsbSerialInterface>& interfaces, int pinned) {
    for (const auto& candidate : interfaces)
        if (candidate.interfaceNumber == pinned) return candidate;
    if (interfaces.size() == 1) return interfaces.front();
    if (pinned < 0) return InterfaceToDrive(interfaces);
    return std::nullopt;
}

std::optional<std::string> ResolvePinnedTty(const UsbTree& tree, const UsbPin& pin) {
    const auto chosen = ChooseInterface(SerialInterfacesOf(tree, pin.usbPort), pin.interfaceNumber);
    if (!chosen) return std::nullopt;
    return tree.devRoot + "/" + chosen->ttyName;
}

std::optional<UsbPin> PinOfDevice(const UsbTree& tree, const std::string& devicePath) {
    // Follow links one hop at a time until a tty name shows: a by-id link
    // names the node, and a test tree's node may itself be a link onward.
    std::string path = devicePath;
    for (int hop = 0; hop <= kMaxLinkHops && !path.empty(); ++hop) {
        const std::string name = BaseName(path);
        if (IsUsbTtyName(name)) return PinOfTty(tree, name);
        path = LinkTarget(path);
    }
    return std::nullopt;
}

std::optional<UsbPin> ParseUsbPortName(const std::string& text) {
    const size_t colon = text.find(':');
    UsbPin pin;
    pin.usbPort = text.substr(0, colon);
    if (!IsPortName(pin.usbPort)) return std::nullopt;
    if (colon == std::string::npos) return pin;
    // "<config>.<interface>", both decimal.
    const size_t dot = text.find('.', colon + 1);
    if (dot == std::string::npos || !AllDigits(text, colon + 1, dot) || !AllDigits(text, dot + 1, text.size()) ||
        text.size() - dot - 1 > 3)
        return std::nullopt;
    pin.interfaceNumber = std::atoi(text.c_str() + dot + 1);
    return pin;
}

namespace {

std::optional<UsbPin>& PinOverride() {
    static std::optional<UsbPin> pin;
    return pin;
}

}  // namespace

std::optional<UsbPin> ActivePin() { return PinOverride() ? PinOverride() : PinFromEnvironment(); }

void SetPinOverride(std::optional<UsbPin> pin) { PinOverride() = std::move(pin); }

std::optional<UsbPin> PinFromEnvironment() {
    const char* port = std::getenv(kPortVariable);
    if (port == nullptr || port[0] == '\0') return std::nullopt;
    UsbPin pin;
    pin.usbPort = port;
    const char* number = std::getenv(kInterfaceVariable);
    if (number != nullptr && AllDigits(number, 0, std::string(number).size())) pin.interfaceNumber = std::atoi(number);
    return pin;
}

void SetPinInEnvironment(const UsbPin& pin) {
    ::setenv(kPortVariable, pin.usbPort.c_str(), 1);
    if (pin.interfaceNumber >= 0) ::setenv(kInterfaceVariable, std::to_string(pin.interfaceNumber).c_str(), 1);
    else ::unsetenv(kInterfaceVariable);
}

}  // namespace platform::posix

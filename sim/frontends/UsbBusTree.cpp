#include "sim/frontends/UsbBusTree.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "packet/CardIdentity.h"

namespace sim {

namespace {

namespace fs = std::filesystem;

constexpr int kConfiguration = 1;
constexpr int kNoInterface = -1;

// What the card shows in each mode: its product ID, the interface of its
// own port, and in its firmware a modem interface beside it (a cdc-acm tty
// that is not the card's port, so a wrong pick cannot go unnoticed).
struct ModeLayout {
    CardMode mode;
    unsigned product;
    int cardInterface;
    int modemInterface;
};

constexpr ModeLayout kLayouts[] = {
    {CardMode::AtCommand, packet::kCardFirmwareIdentity.product, 1, 0},
    {CardMode::Diagnostic, packet::kCardFirmwareIdentity.product, 1, 0},
    {CardMode::BootDownloader, packet::kCardBootDownloaderIdentity.product, 0, kNoInterface},
    {CardMode::FlashProgrammer, packet::kCardProgrammerIdentity.product, 0, kNoInterface},
};

const ModeLayout& LayoutOf(CardMode mode) {
    for (const ModeLayout& layout : kLayouts)
        if (layout.mode == mode) return layout;
    return kLayouts[0];
}

bool WriteLine(const fs::path& path, const std::string& text, std::string& error) {
    std::ofstream out(path, std::ios::trunc);
    out << text << "\n";
    if (!out) error = "cannot write " + path.string();
    return static_cast<bool>(out);
}

std::string Hex(unsigned value, int digits) {
    char text[8];
    std::snprintf(text, sizeof text, "%0*x", digits, value);
    return text;
}

}  // namespace

int UsbBusTree::WishedNumber() const {
    if (options_.ttyNumbers.empty()) return 0;
    const size_t at = std::min(appearances_, options_.ttyNumbers.size() - 1);
    return options_.ttyNumbers[at];
}

// The lowest free node name from `wished` on, as the kernel hands out the
// lowest free number; the link is made in one step, so two cards never
// claim the same name.
std::string UsbBusTree::ClaimNode(const std::string& prefix, int wished, const std::string& target, std::string& error) {
    for (int number = wished; number < wished + 256; ++number) {
        const std::string name = prefix + std::to_string(number);
        const std::string node = options_.devRoot + "/" + name;
        if (::symlink(target.c_str(), node.c_str()) == 0) {
            nodes_.push_back(node);
            return name;
        }
        if (errno != EEXIST) break;
    }
    error = "cannot make a " + prefix + " node in " + options_.devRoot + ": " + std::strerror(errno);
    return {};
}

bool UsbBusTree::Appear(CardMode mode, const std::string& terminal, std::string& error) {
    if (!Enabled()) return true;
    Leave();
    const ModeLayout& layout = LayoutOf(mode);
    std::error_code ec;
    fs::create_directories(options_.devRoot, ec);
    const std::string tty = ClaimNode("ttyUSB", WishedNumber(), terminal, error);
    const std::string modem = layout.modemInterface == kNoInterface ? "" : ClaimNode("ttyACM", 0, "/dev/null", error);
    ++appearances_;
    if (tty.empty() || (layout.modemInterface != kNoInterface && modem.empty())) return false;

    const fs::path devices = fs::path(options_.sysRoot) / "bus/usb/devices";
    const fs::path device = devices / options_.usbPort;
    fs::create_directories(device, ec);
    folders_.push_back(device.string());
    if (!WriteLine(device / "idVendor", Hex(packet::kCardVendor, 4), error) ||
        !WriteLine(device / "idProduct", Hex(layout.product, 4), error))
        return false;
    auto addInterface = [&](int number, const std::string& below, const std::string& driver) {
        const fs::path folder =
            devices / (options_.usbPort + ":" + std::to_string(kConfiguration) + "." + std::to_string(number));
        fs::create_directories(folder, ec);
        folders_.push_back(folder.string());
        const fs::path driverFolder = fs::path(options_.sysRoot) / "bus/usb/drivers" / driver;
        fs::create_directories(driverFolder, ec);
        fs::create_symlink(driverFolder, folder / "driver", ec);
        // The number first, the tty last: a reader never sees a tty without it.
        if (!WriteLine(folder / "bInterfaceNumber", Hex(static_cast<unsigned>(number), 2), error)) return false;
        fs::create_directories(folder / below, ec);
        return !ec;
    };
    if (!modem.empty() && !addInterface(layout.modemInterface, "tty/" + modem, "cdc_acm")) return false;
    if (!addInterface(layout.cardInterface, tty, "option")) return false;
    node_ = options_.devRoot + "/" + tty;
    return true;
}

void UsbBusTree::Leave() {
    std::error_code ec;
    for (const auto& folder : folders_) fs::remove_all(folder, ec);
    for (const auto& node : nodes_) ::unlink(node.c_str());
    folders_.clear();
    nodes_.clear();
    node_.clear();
}

}  // namespace sim

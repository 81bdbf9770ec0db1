#include "host/fwupgrade/card/CardScan.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>

#include "host/fwupgrade/plugin/CardSupport.h"
#include "host/fwupgrade/report/FailureReport.h"
#include "packet/CardIdentity.h"
#include "platform/posix/UsbSerial.h"

namespace fwupgrade {

namespace {

std::string PortOf(const SerialDevice& device) { return device.usbPort.substr(0, device.usbPort.find(':')); }

std::string CardListing(const std::vector<FoundCard>& cards) {
    std::string text;
    for (const auto& card : cards)
        text += "\n  " + card.port.path + "  (USB port " + card.port.usbPort + ", " +
                IdentityText({card.vendor, card.product}) + ")";
    return text;
}

}  // namespace

const SerialDevice& PortToUse(const std::vector<SerialDevice>& interfaces) {
    // The serial layer follows a card pinned by its port alone by the same order.
    auto number = [](const SerialDevice& d) { return static_cast<int>(std::strtol(d.interfaceNumber.c_str(), nullptr, 16)); };
    return *std::min_element(interfaces.begin(), interfaces.end(), [&](const SerialDevice& a, const SerialDevice& b) {
        return platform::posix::DrivenBefore(a.name, number(a), b.name, number(b));
    });
}

std::vector<FoundCard> ScanCards(const std::string& sysRoot, const std::string& devRoot, bool anyVendor) {
    std::map<std::string, std::vector<SerialDevice>> byPort;
    for (const auto& device : ScanSerialDevices(sysRoot, devRoot))
        if (anyVendor || device.vendor == packet::kCardVendor) byPort[PortOf(device)].push_back(device);
    std::vector<FoundCard> cards;
    for (const auto& [usbPort, interfaces] : byPort) {
        FoundCard card;
        card.usbPort = usbPort;
        card.vendor = interfaces.front().vendor;
        card.product = interfaces.front().product;
        card.interfaces = interfaces;
        card.port = PortToUse(interfaces);
        card.canOpen = ::access(card.port.path.c_str(), R_OK | W_OK) == 0;
        cards.push_back(card);
    }
    return cards;
}

std::string UsbPortToUse(const std::string& sysRoot, const std::string& devRoot, const std::string& usbPort) {
    for (const FoundCard& card : ScanCards(sysRoot, devRoot, true))
        if (card.usbPort == usbPort) return card.port.usbPort;
    return {};
}

std::string NoCardFoundText() {
    char vendor[8];
    std::snprintf(vendor, sizeof vendor, "%04x", packet::kCardVendor);
    return std::string("No card found: no USB serial device of vendor ") + vendor + " is plugged in (the card is " +
           IdentityText(packet::kCardFirmwareIdentity) +
           " in its firmware, another product of that vendor in its boot downloader or flash programmer).";
}

bool ChooseOnlyCard(const std::string& sysRoot, const std::string& devRoot, CardName& card, std::string& note,
                    int& exitStatus, std::string& error) {
    const std::vector<FoundCard> cards = ScanCards(sysRoot, devRoot);
    if (cards.empty()) {
        exitStatus = kExitNoDevice;
        error = NoCardFoundText() + " Name the card with --device, --usb-port or --port.";
        return false;
    }
    if (cards.size() > 1) {
        exitStatus = kExitUsage;
        error = std::to_string(cards.size()) + " cards are plugged in; name one with --usb-port (or --device):" +
                CardListing(cards);
        return false;
    }
    card = CardName{"", cards.front().port.usbPort};
    note = "Using the only card plugged in: " + cards.front().port.path + " (USB port " + cards.front().port.usbPort +
           ").";
    return true;
}

}  // namespace fwupgrade

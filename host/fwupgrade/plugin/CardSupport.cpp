#include "host/fwupgrade/plugin/CardSupport.h"

#include <cstdio>

#include "host/fwupgrade/card/DeviceAccess.h"
#include "platform/posix/UsbSerial.h"

namespace fwupgrade {

std::string IdentityText(packet::UsbIdentity identity) {
    char text[16];
    std::snprintf(text, sizeof text, "%04x:%04x", identity.vendor, identity.product);
    return text;
}

std::string CardModeOf(packet::UsbIdentity identity) {
    if (identity == packet::kCardBootDownloaderIdentity) return "boot downloader";
    if (identity == packet::kCardProgrammerIdentity) return "flash programmer";
    return {};
}

std::optional<packet::UsbIdentity> CardIdentityNow(int32_t port) {
    const platform::posix::UsbTree tree = platform::posix::UsbTreeFromEnvironment();
    std::optional<platform::posix::UsbPin> pin = platform::posix::PinFromEnvironment();
    if (!pin) pin = platform::posix::PinOfDevice(tree, CardDevicePathNow(port));
    if (!pin) return std::nullopt;
    const auto identity = platform::posix::UsbIdentityOf(tree, pin->usbPort);
    if (!identity) return std::nullopt;
    return packet::UsbIdentity{identity->first, identity->second};
}

std::string RefusalOf(std::optional<packet::UsbIdentity> identity, CardUse use,
                      const std::function<bool(packet::UsbIdentity)>& moduleSupports) {
    if (!identity || moduleSupports(*identity)) return {};
    const std::string mode = CardModeOf(*identity);
    if (!mode.empty() && use == CardUse::Rescue) return {};
    if (!mode.empty())
        return "The device is " + IdentityText(*identity) + ", the card in its " + mode +
               ", which is not supported here (only rescue takes it); nothing was sent to it.";
    return "The device is " + IdentityText(*identity) +
           ", a USB identity the upgrade module reports as not supported; nothing was sent to it.";
}

std::string RefusalFromModule(PluginHost& host, int32_t port, CardUse use) {
    return RefusalOf(CardIdentityNow(port), use,
                     [&host](packet::UsbIdentity identity) { return host.Supports(identity.vendor, identity.product); });
}

}  // namespace fwupgrade

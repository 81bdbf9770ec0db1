// Whether the upgrade module supports the card before anything is sent to
// it: as the host application does, fwupgrade asks the plug-in with message
// 1026 about the USB identity of the device the card's tty belongs to. A
// device with no USB identity (a virtual card's pseudo-terminal) is not
// asked about.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "host/fwupgrade/plugin/PluginHost.h"
#include "packet/CardIdentity.h"

namespace fwupgrade {

// What the command will do with the card: a rescue also takes the card in
// its boot downloader or flash programmer, which the module's answer leaves out.
enum class CardUse { Drive, Rescue };

// "2e1a:0081".
std::string IdentityText(packet::UsbIdentity identity);

// "boot downloader" or "flash programmer" for the card's identities in
// those modes; "" for any other identity.
std::string CardModeOf(packet::UsbIdentity identity);

// The identity of the USB device COM `port` stands for now (in the tree of
// FWUPGRADE_SYSFS_ROOT): the device under the pinned USB port, else the one
// the pattern's tty belongs to; nullopt when it is not on USB.
std::optional<packet::UsbIdentity> CardIdentityNow(int32_t port);

// "" when the card may be driven, else the one sentence that refuses it,
// naming its identity. `moduleSupports` is the module's answer to 1026.
std::string RefusalOf(std::optional<packet::UsbIdentity> identity, CardUse use,
                      const std::function<bool(packet::UsbIdentity)>& moduleSupports);

// RefusalOf the card on COM `port` now, asking the loaded plug-in's module.
std::string RefusalFromModule(PluginHost& host, int32_t port, CardUse use);

}  // namespace fwupgrade

// The card's USB identities: one vendor, and a product ID for each mode it
// restarts into. The module answers for the firmware's identity, fwupgrade
// finds the card by them, the virtual card shows them.
#pragma once

#include <cstdint>

namespace packet {

struct UsbIdentity {
    uint16_t vendor;
    uint16_t product;
};

constexpr bool operator==(UsbIdentity a, UsbIdentity b) { return a.vendor == b.vendor && a.product == b.product; }

inline constexpr uint16_t kCardVendor = 0x2E1A;
// In its firmware (AT commands and diagnostics): the identity the module upgrades.
inline constexpr UsbIdentity kCardFirmwareIdentity{kCardVendor, 0x0081};
// Where a run takes it and where an interrupted run may leave it.
inline constexpr UsbIdentity kCardBootDownloaderIdentity{kCardVendor, 0x0082};
inline constexpr UsbIdentity kCardProgrammerIdentity{kCardVendor, 0x0083};

}  // namespace packet

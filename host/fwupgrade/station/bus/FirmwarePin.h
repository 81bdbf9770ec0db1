// The interface a port's card was driven through in its firmware, kept in
// the port's folder: a station started again finds a card outside its
// firmware showing another interface, and the rescue must follow the card
// back to the one its firmware answers on (the other is its modem port).
#pragma once

#include <optional>
#include <string>

namespace fwupgrade::station {

// Writes "<pin>\n" to <portFolder>/firmware-pin: a temporary name, synced,
// renamed over, and the folder synced.
bool KeepFirmwarePin(const std::string& portFolder, const std::string& pin, std::string& error);

// The kept pin of the card on `usbPort`; nullopt when none is kept, or when
// the file does not hold a pin of that port (`problem` says why).
std::optional<std::string> KeptFirmwarePin(const std::string& portFolder, const std::string& usbPort,
                                           std::string& problem);

}  // namespace fwupgrade::station

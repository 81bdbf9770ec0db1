// Where a card is: the protocol it answers on its port.
#pragma once

namespace upgrade {

enum class CardState { Absent, Silent, Firmware, BootDownloader, FlashProgrammer };
// "its firmware", "its boot downloader", "the flash programmer", ...
const char* CardStateText(CardState state);

}  // namespace upgrade

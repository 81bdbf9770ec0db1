// Copies the flash programmer into the card's RAM through the boot
// downloader, starts it and greets it on the reopened port.
#pragma once

#include "packet/Packet.h"

namespace upgrade {

using packet::CPacket;
class CardPort;
class ImageSet;

class ProgrammerLoader {
public:
    ProgrammerLoader(CardPort& port, const ImageSet& images) : port_(port), images_(images) {}

    [[nodiscard]] bool DownloadArmPrg(CPacket& packet);
    [[nodiscard]] bool GoToFlashPrg(CPacket& packet);

private:
    CardPort& port_;
    const ImageSet& images_;
};

}  // namespace upgrade

// Identifying the card in its firmware (its version, whether it is a Q7k
// variant) and taking it from its firmware into the boot downloader.
#pragma once

#include "packet/Packet.h"

namespace upgrade {

using packet::CPacket;
class CardPort;
struct RunData;

class ModeSwitch {
public:
    ModeSwitch(CardPort& port, RunData& data) : port_(port), data_(data) {}

    // Reads the software version into the run's data and tells a Q7k card.
    [[nodiscard]] bool SelectPhoneType(CPacket& packet);
    // Clears NV item 96 of a Q7k card: up to ten tries.
    [[nodiscard]] bool DealQ7K(CPacket& packet);
    // From the firmware into the boot downloader; true once the downloader answers.
    [[nodiscard]] bool SwitchToDownload(CPacket& packet);

private:
    void PrepareCardForSwitch(CPacket& packet);
    [[nodiscard]] bool ConfirmDownloader(CPacket& packet);

    CardPort& port_;
    RunData& data_;
};

}  // namespace upgrade

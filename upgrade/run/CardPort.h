// The card's port: opened by number, found again after each restart (the
// card comes back under the same number), and the reset into the new
// firmware with the identification that shows it runs.
#pragma once

#include <cstdint>

#include "packet/Packet.h"

namespace upgrade {

using packet::CPacket;
struct RunData;

class CardPort {
public:
    explicit CardPort(RunData& data) : data_(data) {}

    // Opens COM port (closing the packet's port first when it is open).
    [[nodiscard]] bool InitPort(CPacket& packet, int32_t port);
    // The same by the number of the packet's last open: after each restart
    // the card comes back under it.
    [[nodiscard]] bool InitPort(CPacket& packet);
    [[nodiscard]] bool ReOpenCOMPort(CPacket& packet);
    // The first open of the card's port, and a first request it must answer.
    [[nodiscard]] bool OpenCardPort(CPacket& packet, int32_t port);
    // The card answers in its firmware with its ESN and version; the
    // version goes to the run's data.
    [[nodiscard]] bool CheckPhoneInfo(CPacket& packet);
    // Resets the card and waits until its new firmware is identified twice.
    [[nodiscard]] bool ResetMobileSDP(CPacket& packet);

private:
    // Traces the close of an open port and the open that follows.
    void CloseForInitPort(CPacket& packet);

    RunData& data_;
};

}  // namespace upgrade

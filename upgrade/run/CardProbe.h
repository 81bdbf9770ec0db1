// Tells where a card is from its answers: the boot downloader's
// no-operation, the programmer's hello, the firmware's ESN, in that order
// (each is harmless to the other states).
#pragma once

#include <cstdint>

#include "packet/Packet.h"
#include "upgrade/run/CardState.h"

namespace upgrade {

using packet::CPacket;

class CardPort;
class RunReporter;
struct RunData;

class CardProbe {
public:
    CardProbe(CardPort& port, RunData& data, RunReporter& reporter) : port_(port), data_(data), reporter_(reporter) {}

    // Opens the port and probes; a silent card may be a programmer waiting
    // in a raw block, which is completed first. Leaves the port open. The
    // state goes to the run's data, and the ESN when the firmware answered.
    [[nodiscard]] CardState ProbeCardState(packet::CPacket& packet, int32_t port);

private:
    // One round of the three probes on the open port.
    [[nodiscard]] CardState StateFromAnswers(packet::CPacket& packet);

    CardPort& port_;
    RunData& data_;
    RunReporter& reporter_;
};

}  // namespace upgrade

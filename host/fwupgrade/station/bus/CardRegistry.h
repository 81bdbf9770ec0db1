// The cards the station knows, by the USB port they are plugged into. A card
// restarts into another mode (a new USB device with another product ID)
// three times in a run; those appearances belong to its run. Only a port
// with no run on it starts one.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "packet/CardIdentity.h"

namespace fwupgrade::station {

// What a card that appears needs, told from its USB identity.
enum class CardNeed { Upgrade, Rescue, NotSupported };

CardNeed NeedOf(packet::UsbIdentity identity);

enum class PortState {
    Queued,      // waiting for a free run
    Running,     // its worker runs
    Finished,    // the run ended; the card is still plugged in
    Ignored,     // a device the station leaves alone
};

// What the station does about a device that appeared.
enum class Arrival {
    NewCard,          // queue a run for it
    SameRun,          // a restart of a card whose run is on: nothing
    AlreadyKnown,     // the port is already handled (finished or ignored)
    NotSupported,     // list it, send nothing
};

class CardRegistry {
public:
    Arrival Appeared(const std::string& port, packet::UsbIdentity identity);
    // True when the port's card was listed and is now gone for good (no run
    // on it: a run's own restarts leave and come back).
    bool Left(const std::string& port);
    void Started(const std::string& port);
    // True when the card is gone by then: its port is free for the next one.
    bool Finished(const std::string& port);

    bool Has(const std::string& port) const { return ports_.count(port) != 0; }
    PortState StateOf(const std::string& port) const;
    // The need told when the card first appeared.
    CardNeed NeedAt(const std::string& port) const;

private:
    struct Entry {
        PortState state = PortState::Queued;
        CardNeed need = CardNeed::Upgrade;
        bool present = true;   // on the bus now, whatever mode it is in
    };
    std::map<std::string, Entry> ports_;
};

}  // namespace fwupgrade::station

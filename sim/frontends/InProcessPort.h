// An in-process COM port wired straight to a sim::Card, for fast end-to-end
// upgrade tests without a terminal.
//
//   platform::RecordingClock clock;            // or ScaledClock
//   platform::SetClock(&clock);
//   auto card = sim::MakeCard();                // DefaultCardData(), default timing
//   sim::InProcessPortOpener opener;
//   opener.Attach(7, card);                     // the card answers on COM7
//   platform::SetComPortOpener(&opener);
//   ... run the upgrade against port 7 ...
//   EXPECT_TRUE(card->Violations().empty());
//   card->Data().nv, .wifi, .efsFiles, .partitions   // what the card now holds
//   sim::CheckFlashAgainstPackage(card->Data(), folder)   (sim/frontends/PackageMaker.h)
//
// Behaviour: Open fails while the card is off the bus (re-enumerating, timed
// on platform::TickCount) and while another port to the same card is open
// (a port left open from before a re-enumeration does not block).
// A port opened before the card left the bus is dead: reads return nothing,
// queue counts are 0 and writes fail (return 0), like a vanished USB device.
#pragma once

#include <cstdint>
#include <map>
#include <memory>

#include "platform/Platform.h"
#include "sim/card/Card.h"

namespace sim {

std::shared_ptr<Card> MakeCard(CardData data = DefaultCardData(), CardTiming timing = {}, FaultPlan faults = {});

class InProcessPortOpener : public platform::ComPortOpener {
public:
    // The card answers on COM `portNumber` (replaces an earlier card there).
    void Attach(int32_t portNumber, std::shared_ptr<Card> card);
    void Detach(int32_t portNumber);
    std::shared_ptr<Card> CardAt(int32_t portNumber) const;

    std::unique_ptr<platform::ComPort> Open(const std::u16string& deviceName, int32_t portNumber) override;

    // Counters for tests.
    uint32_t OpenAttempts() const { return openAttempts_; }
    uint32_t OpenFailures() const { return openFailures_; }

private:
    struct Slot {
        std::shared_ptr<Card> card;
        std::shared_ptr<uint32_t> openGeneration = std::make_shared<uint32_t>(0);   // 0: no port open
    };
    std::map<int32_t, Slot> slots_;
    uint32_t openAttempts_ = 0;
    uint32_t openFailures_ = 0;
};

}  // namespace sim

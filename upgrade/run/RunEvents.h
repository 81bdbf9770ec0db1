// What an operation on a card reports as it goes, as values: the step it
// enters, its progress, every piece of the card's data that did not go back,
// and its outcome. The trace is for people reading a log; these are for a
// front-end that has to act on what happened.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "upgrade/run/ProgressAnchors.h"

namespace upgrade {

// The steps of a run, in order; each begins at a progress anchor.
enum class RunStep {
    Prepare,   // 0: package check, port, identification
    Backup,    // kProgressBackup: the card's data is saved
    Switch,    // kProgressSwitch: the card leaves its firmware, the programmer starts
    Images,    // kProgressImages: the partition table and the images
    Reset,     // kProgressReset: the card restarts into its new firmware
    Restore,   // kProgressRestore: the card's data goes back
};
constexpr int kRunStepCount = 6;
// The progress value at which the step begins.
int StepAnchor(RunStep step);

// Why an operation stopped.
enum class FailureReason {
    None,
    NoAnswer,      // the card did not answer (or its port would not open)
    Refused,       // the card answered with an error or a wrong answer
    Package,       // the package or the programmer file is unusable
    FileSystem,    // a file on this computer could not be read or written
    Interrupted,   // the front-end asked the operation to stop
    NoBackup,      // no usable backup of the card's data to restore
    OtherCard,     // the backup belongs to another card
    CardState,     // the card is in a state this operation cannot start from
};

// A piece of the card's own data that is not back on the card.
enum class LossKind { NvItem, WifiAddress, LockFile };
enum class LossReason {
    RefusedByCard,   // the card refused the write
    KeptByCard,      // the card keeps the item inactive or read-only: skipped by design
    NotTried,        // the restore stopped before it
    NotSaved,        // the backup could not read it from the card
    Unsupported,     // the card's firmware cannot report it
};
struct RunLoss {
    LossKind kind = LossKind::NvItem;
    LossReason reason = LossReason::NotTried;
    uint16_t nvItem = 0;
    uint16_t nvStatus = 0;     // the card's status word for an NV item
    std::u16string lockFile;   // the EFS path of a lock file
};

// How a front-end brings the card back after the outcome.
enum class Recovery {
    None,      // nothing to do: the card is unchanged or done
    Rescue,    // rescue the card with the package, restoring the kept backup
    Restore,   // the card runs its firmware; write the kept backup back
};

// Where a card is (declared with the operations).
enum class CardState;

struct RunOutcome {
    int32_t result = 0;   // 0, kPackageRejected, kUpgradeFailed
    RunStep failedStep = RunStep::Prepare;
    FailureReason reason = FailureReason::None;
    CardState cardState{};   // the card's last known state, when known
    bool cardStateKnown = false;
    std::u16string keptBackup;   // the kept backup folder of the card's data ("" when none)
    // A backup of a card whose restore is pending keeps what it read apart.
    std::u16string keptReadNow;
    bool esnKnown = false;
    uint32_t esn = 0;
    std::string softwareVersion;   // as the card reported it ("" when unread)
    size_t nvItemsRestored = 0;    // NV items the last restore wrote back
    Recovery recovery = Recovery::None;
    std::u16string recoveryPackage;   // the package a rescue writes
    std::u16string recoveryFrom;      // the kept backup a rescue or restore writes back
};

// Receives the events of an operation, on the thread that runs it.
class RunEventSink {
public:
    virtual void OnStep(RunStep step) = 0;
    virtual void OnProgress(int percent) = 0;
    virtual void OnLoss(const RunLoss& loss) = 0;
    virtual void OnOutcome(const RunOutcome& outcome) = 0;
    // The card's ESN and firmware version, once, as soon as the operation has
    // read them: a front-end can name the card long before the outcome.
    virtual void OnCardIdentified(uint32_t esn, const std::string& softwareVersion) {
        (void)esn;
        (void)softwareVersion;
    }

protected:
    ~RunEventSink() = default;
};

}  // namespace upgrade

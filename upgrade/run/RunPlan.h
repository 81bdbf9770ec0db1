// What one operation on a card is set to do, decided when it starts and
// carried by its run: the phases it shares with the others read from it
// whether to restore the card's data, which backup, and whether every image
// with cefs is written.
#pragma once

#include <string>

namespace upgrade {

enum class RunKind {
    Upgrade,             // message 1025: the package, cefs only when the card needs it
    Rescue,              // every image with cefs, then the restore of a kept backup
    RescueWithoutData,   // every image with cefs; nothing is restored
    FinishInterrupted,   // an upgrade that found its card outside the firmware goes on as a rescue
};

struct RunPlan {
    RunKind kind = RunKind::Upgrade;
    // A kept backup folder restored instead of the package folder's ("" when none).
    std::u16string chosenBackup;

    static RunPlan Upgrade() { return {}; }
    static RunPlan Rescue(const std::u16string& chosenBackup, bool withoutData) {
        return {withoutData ? RunKind::RescueWithoutData : RunKind::Rescue, chosenBackup};
    }
    static RunPlan FinishInterrupted() { return {RunKind::FinishInterrupted, {}}; }

    // Every kind but the upgrade writes every image with cefs and resets.
    bool WritesEveryImage() const { return kind != RunKind::Upgrade; }
    bool RestoresData() const { return kind != RunKind::RescueWithoutData; }
    // The backup restored is the one the user chose, pending or not.
    bool RestoresChosenBackup() const { return WritesEveryImage() && !chosenBackup.empty(); }
    // An upgrade whose card does not answer in its firmware looks for a run
    // an earlier one left pending; a rescue has already looked.
    bool MayFinishInterruptedRun() const { return kind == RunKind::Upgrade; }
};

}  // namespace upgrade

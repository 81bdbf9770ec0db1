// One run on a card, in its phases: preparation and identification, backup,
// mode switch and programmer, flashing, and, when the run writes every image,
// the reset and restore. What the run is set to do comes from its RunPlan:
// an upgrade, a rescue (with or without the card's data), or an upgrade that
// found its card outside the firmware and finishes the interrupted run.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "packet/Packet.h"
#include "upgrade/backup/BackupRecord.h"
#include "upgrade/run/CardState.h"
#include "upgrade/run/RunPlan.h"

namespace upgrade {

using packet::CPacket;
class BackupKeeper;
class BackupPhases;
class CardPort;
class CardProbe;
class ImageSet;
class ImageWriter;
class ModeSwitch;
class ProgrammerLoader;
class RunReporter;
struct RunData;

// The state one run hands from phase to phase.
struct UpgradeRun {
    RunPlan plan;
    int32_t port = 0;
    std::u16string packageFolder;
    std::unique_ptr<CPacket> packet;
    uint8_t nv22[128] = {};      // NV item 22 as read
    uint8_t nv22Save[50] = {};   // its first 22 bytes, then zeros: what goes back after the reset
};

// The parts a run is made of.
struct RunParts {
    RunData& data;
    RunReporter& reporter;
    ImageSet& images;
    CardPort& port;
    ModeSwitch& modeSwitch;
    ProgrammerLoader& programmer;
    ImageWriter& writer;
    BackupPhases& phases;
    BackupKeeper& keeper;
    CardProbe& probe;
};

class RunSequence {
public:
    explicit RunSequence(const RunParts& parts);

    // The whole run from a card in its firmware; an upgrade whose card does
    // not answer there finishes a run an interrupted one left pending.
    [[nodiscard]] int32_t Upgrade(const RunPlan& plan, int32_t port, const std::u16string& packageFolder);
    // A rescue: the card is probed and, in its firmware, upgraded as a
    // retry is; outside it, flashed from where it stands.
    [[nodiscard]] int32_t Rescue(const RunPlan& plan, int32_t port, const std::u16string& packageFolder);
    // Forgets what an earlier operation saved, recorded and decided.
    void ClearRunState();

private:
    // Preparation answers a result code (kPackageRejected before the card is
    // touched); the other phases a success flag.
    [[nodiscard]] int32_t PrepareAndIdentify(UpgradeRun& run);
    // The card's version, and for a Q7k card its item 96 cleared and every
    // image with cefs planned.
    [[nodiscard]] bool IdentifyCard(CPacket& packet);
    // The card's factory test mode, which the switch restores, and its item
    // 22, which goes back after the reset: up to five tries.
    [[nodiscard]] bool ReadFtmModeAndNv22(UpgradeRun& run);
    [[nodiscard]] bool SwitchAndStartProgrammer(UpgradeRun& run);
    // Takes the card from the state it was found in (its firmware, the boot
    // downloader or the flash programmer) to a greeted flash programmer.
    [[nodiscard]] bool StartProgrammer(UpgradeRun& run, CardState from);
    [[nodiscard]] bool ResetAndRestore(UpgradeRun& run);
    // Traces, closes the port and destroys the packet.
    void DealError(std::unique_ptr<CPacket>& packet);
    // A failed run: the card's silence or answer noted (unless a reason
    // already is), its port closed.
    [[nodiscard]] int32_t Fail(UpgradeRun& run);
    // False (OtherCard noted) when the chosen backup is of another card than
    // the one found: its ESN, or outside its firmware the pending record's.
    [[nodiscard]] bool ChosenBackupFitsTheCard(const RunPlan& plan, CardState state);
    // A card found in its boot downloader or flash programmer: its backup
    // taken (or none, without data), every image with cefs, the reset and
    // the restore. Answers as a run.
    [[nodiscard]] int32_t FlashFromOutsideFirmware(UpgradeRun& run, CardState state);
    // Message 1025 on a card that did not answer in its firmware: a run
    // that an interrupted one left pending (its record in the package
    // folder) is finished from wherever the card stands.
    [[nodiscard]] int32_t FinishInterruptedRun(UpgradeRun& run);
    // A rescue that found the card outside its firmware checks, once the
    // card runs its new firmware, that it is the card of the backup.
    [[nodiscard]] bool RestoresOntoTheRightCard(CPacket& packet);
    // Takes NV item 22 for the write-back after the reset from the backup
    // being restored (a retry restores what the card held before the wipe).
    [[nodiscard]] bool LoadNv22FromBackup(UpgradeRun& run);

    RunData& data_;
    RunReporter& reporter_;
    ImageSet& images_;
    CardPort& port_;
    ModeSwitch& switch_;
    ProgrammerLoader& programmer_;
    ImageWriter& writer_;
    BackupPhases& phases_;
    BackupKeeper& keeper_;
    CardProbe& probe_;
};

}  // namespace upgrade

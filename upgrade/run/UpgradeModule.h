// The firmware-upgrade operations of the CDMA data card module, as the
// host-facing module object (module/) and the card operations interface
// call them: one upgrade run (FirmWareUpgrade), a card's backup, restore,
// rescue and probe, with their events and stop request. Each operation is
// made of the parts below, which the tests reach one by one.
#pragma once

#include <cstdint>
#include <string>

#include "packet/Packet.h"
#include "upgrade/backup/BackupKeeper.h"
#include "upgrade/backup/BackupPhases.h"
#include "upgrade/backup/LockFiles.h"
#include "upgrade/backup/NvBackup.h"
#include "upgrade/flashing/ImageSet.h"
#include "upgrade/flashing/ImageWriter.h"
#include "upgrade/flashing/ModeSwitch.h"
#include "upgrade/flashing/ProgrammerLoader.h"
#include "upgrade/run/CardPort.h"
#include "upgrade/run/CardProbe.h"
#include "upgrade/run/CardState.h"
#include "upgrade/run/PackagePath.h"
#include "upgrade/run/RunData.h"
#include "upgrade/run/RunEvents.h"
#include "upgrade/run/RunPlan.h"
#include "upgrade/run/RunReporter.h"
#include "upgrade/run/RunResult.h"
#include "upgrade/run/RunSequence.h"

namespace upgrade {

class UpgradeModule {
public:
    explicit UpgradeModule(ProgressReporter reporter = {});
    UpgradeModule(const UpgradeModule&) = delete;
    UpgradeModule& operator=(const UpgradeModule&) = delete;

    [[nodiscard]] int32_t FirmWareUpgrade(int32_t port, const std::u16string& packageFolder);
    // Saves the card's NV items, Wi-Fi address and lock files into folder and
    // keeps them; the card stays in its firmware with lock access off.
    [[nodiscard]] bool BackupCard(int32_t port, const std::u16string& folder);
    // Writes a kept backup back to a card in its firmware: the NV items, the
    // Wi-Fi address, the lock files. A backup of another ESN needs force.
    [[nodiscard]] bool RestoreCard(int32_t port, const std::u16string& keptFolder, bool force);
    // Brings back a card an interrupted or failed run left behind, from
    // whatever state it is in: every image with cefs, the reset, the restore
    // of the package folder's backup (or of fromFolder). Answers as a run.
    // A backup of another card is refused before anything is written; with
    // withoutData a card outside its firmware is flashed and nothing restored.
    [[nodiscard]] int32_t RescueCard(int32_t port, const std::u16string& packageFolder, const std::u16string& fromFolder,
                                     bool withoutData = false);
    // Tells the card's state from its answers; leaves the port open.
    [[nodiscard]] CardState ProbeCardState(CPacket& packet, int32_t port) { return probe_.ProbeCardState(packet, port); }

    // The sink (none by default) and the stop request of the operations
    // that follow; neither changes the trace.
    void SetEventSink(RunEventSink* sink) { reporter_.SetEventSink(sink); }
    void SetCancelCheck(CancelCheck check) { reporter_.SetCancelCheck(std::move(check)); }

    // Writes the embedded flash programmer beside the host (see ImageSet).
    [[nodiscard]] static bool ExtractProgrammer() { return ImageSet::ExtractProgrammer(); }

    // What the operations found, for the host and for tests.
    const RunData& Data() const { return data_; }
    uint32_t CardEsn() const { return data_.cardEsn; }
    const BackupKeeper& Keeper() const { return keeper_; }

    // The parts, for tests that drive one step on its own.
    RunReporter& Reporter() { return reporter_; }
    RunData& Data() { return data_; }
    ImageSet& Images() { return images_; }
    CardPort& Port() { return port_; }
    ModeSwitch& Switch() { return switch_; }
    ProgrammerLoader& Programmer() { return programmer_; }
    ImageWriter& Writer() { return writer_; }
    NvBackup& Nv() { return nv_; }
    LockFiles& Locks() { return locks_; }
    BackupPhases& Phases() { return phases_; }

private:
    [[nodiscard]] bool RestoreSteps(int32_t port, const std::u16string& keptFolder, bool force);
    void ReportOutcome(int32_t result, const std::u16string& packageFolder);

    RunReporter reporter_;
    RunData data_;
    ImageSet images_{data_};
    CardPort port_{data_};
    ModeSwitch switch_{port_, data_};
    ProgrammerLoader programmer_{port_, images_};
    BackupKeeper keeper_{data_, reporter_};
    ImageWriter writer_{images_, data_, keeper_, reporter_};
    NvBackup nv_{data_, reporter_};
    LockFiles locks_{data_, reporter_};
    BackupPhases phases_{data_, nv_, locks_, keeper_, reporter_};
    CardProbe probe_{port_, data_, reporter_};
    RunSequence sequence_{RunParts{data_, reporter_, images_, port_, switch_, programmer_, writer_, phases_, keeper_, probe_}};
};

}  // namespace upgrade

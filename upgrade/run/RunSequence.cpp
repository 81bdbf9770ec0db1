// One run, in its phases: preparation and identification, backup, mode
// switch and programmer, flashing, and, when the layout was replaced, the
// card is a Q7k variant or the plan writes every image, the reset and
// restore. A rescue and an interrupted run's finish enter the same phases
// from wherever the card stands.
#include "upgrade/run/RunSequence.h"

#include <cstring>
#include <vector>

#include "platform/Platform.h"
#include "platform/Trace.h"
#include "upgrade/backup/BackupKeeper.h"
#include "upgrade/backup/BackupPhases.h"
#include "upgrade/backup/BackupStore.h"
#include "upgrade/backup/NvBackupTable.h"
#include "upgrade/backup/NvItems.h"
#include "upgrade/flashing/ImageSet.h"
#include "upgrade/flashing/ImageWriter.h"
#include "upgrade/flashing/ModeSwitch.h"
#include "upgrade/flashing/ProgrammerLoader.h"
#include "upgrade/run/CardPort.h"
#include "upgrade/run/CardProbe.h"
#include "upgrade/run/RunData.h"
#include "upgrade/run/RunReporter.h"
#include "upgrade/run/RunResult.h"
#include "upgrade/run/UpgradeInternal.h"

namespace upgrade {
namespace {

constexpr const char16_t* kRun = u"CFWUpgradeDataCDMA7627Module::FirmWareUpgrade";
constexpr const char16_t* kRescue = u"CFWUpgradeDataCDMA7627Module::RescueCard";

constexpr size_t kNvItemSize = 128;
constexpr size_t kNv22SaveSize = 50;

bool ReadNvTable(const std::u16string& path, std::vector<nvtable::NvRecord>& records) {
    platform::File file;
    if (!file.OpenRead(path) || file.Length() != nvtable::kTableSize) return false;
    std::vector<uint8_t> table(nvtable::kTableSize);
    return file.Read(table.data(), static_cast<uint32_t>(table.size())) == table.size() &&
           nvtable::DecodeTable(table, records);
}

std::u16string Wide(const std::string& text) { return platform::Utf8ToWide(text); }

}  // namespace

RunSequence::RunSequence(const RunParts& parts)
    : data_(parts.data), reporter_(parts.reporter), images_(parts.images), port_(parts.port),
      switch_(parts.modeSwitch), programmer_(parts.programmer), writer_(parts.writer), phases_(parts.phases),
      keeper_(parts.keeper), probe_(parts.probe) {}

void RunSequence::ClearRunState() {
    data_.ClearBackupData();
    keeper_.Clear();
}

int32_t RunSequence::Fail(UpgradeRun& run) {
    reporter_.NoteCardFailure(run.packet.get());
    DealError(run.packet);
    return kUpgradeFailed;
}

void RunSequence::DealError(std::unique_ptr<CPacket>& packet) {
    FW_TRACE(u"CFWUpgradeDataCDMA7627Module::DealError", u"Function: DealError");
    if (packet) {
        if (packet->IsOpen()) packet->Close();
        packet.reset();
    }
}

// The card's factory test mode, which the switch restores, and its item 22,
// which goes back after the reset: up to five tries.
bool RunSequence::ReadFtmModeAndNv22(UpgradeRun& run) {
    CPacket& packet = *run.packet;
    data_.nv22Read = false;
    uint8_t ftm[kNvItemSize] = {};
    for (int attempt = 0; attempt < 5 && !data_.nv22Read; ++attempt) {
        uint16_t status = 0;
        FW_TRACE(kRun, u"Function: pPacket->NvItemRead(NV_FTM_MODE_I,item_ftm, sta)");
        if (!packet.NvItemRead(kNvFtmModeItem, ftm, status)) continue;
        data_.ftmMode = ftm[0];
        if (!packet.NvItemRead(kNv22Item, run.nv22, status)) {
            (void)packet.TouchPort();   // only wakes the port before the next try
            continue;
        }
        FW_TRACE(kRun, u"Function: pPacket->NvItemRead(22, item_data, status)");
        std::memset(run.nv22Save, 0, sizeof run.nv22Save);
        std::memcpy(run.nv22Save, run.nv22, kNv22KeptBytes);
        data_.nv22Read = true;
    }
    return data_.nv22Read;
}

bool RunSequence::IdentifyCard(CPacket& packet) {
    data_.isQ7 = false;
    FW_TRACE(kRun, u"Execute SelectPhoneType function");
    if (!switch_.SelectPhoneType(packet)) {
        // Without the version the run cannot tell a Q7k card, which must get
        // cefs.mbn and its data written back, from any other.
        FW_TRACE(kRun, u"Execute SelectPhoneType function fail");
        reporter_.NoteCardFailure(&packet);
        return false;
    }
    if (data_.isQ7) {
        FW_TRACE(kRun, u"Execute DealQ7K function");
        if (!switch_.DealQ7K(packet)) FW_TRACE(kRun, u"Execute DealQ7K function fail");
        data_.fullDownload = true;
    }
    return true;
}

int32_t RunSequence::PrepareAndIdentify(UpgradeRun& run) {
    CPacket& packet = *run.packet;
    FW_TRACE(kRun, u"Current Port is %d.......", run.port);
    reporter_.ShowRatio(1);
    FW_TRACE(kRun, u"Function: ShowRatio 1");

    FW_TRACE(kRun, u"Function: Initialize");
    if (!images_.Initialize(run.packageFolder)) return kPackageRejected;

    if (!port_.OpenCardPort(packet, run.port)) {
        reporter_.NoteCardFailure(&packet);
        return kUpgradeFailed;
    }
    reporter_.NoteCardState(CardState::Firmware);

    reporter_.ShowRatio(3);
    FW_TRACE(kRun, u"Function: ShowRatio 3");
    std::memset(run.nv22, 0, sizeof run.nv22);

    FW_TRACE(kRun, u"Function: SelectArmprgAccordingToPidVid");
    if (!images_.SelectArmprgAccordingToPidVid(run.packageFolder)) {
        reporter_.NoteFailure(FailureReason::Package);
        return kUpgradeFailed;
    }

    if (!IdentifyCard(packet)) return kUpgradeFailed;
    if (!ReadFtmModeAndNv22(run)) {
        reporter_.NoteCardFailure(&packet);
        return kUpgradeFailed;
    }

    platform::Sleep(1000);
    return kUpgradeOk;
}

bool RunSequence::SwitchAndStartProgrammer(UpgradeRun& run) {
    // Written before anything is sent that takes the card out of its
    // firmware; a record that cannot say so stops the run while the card
    // is still unchanged.
    keeper_.Record().leftFirmware = true;
    if (!keeper_.SaveRecord()) {
        reporter_.NoteFailure(FailureReason::FileSystem);
        return false;
    }

    return StartProgrammer(run, CardState::Firmware);
}

// An upgrade's trace names each progress anchor it passes; a card found
// outside its firmware is traced as the rescue it is.
bool RunSequence::StartProgrammer(UpgradeRun& run, CardState from) {
    const bool fromFirmware = from == CardState::Firmware;
    const char16_t* trace = fromFirmware ? kRun : kRescue;
    CPacket& packet = *run.packet;
    reporter_.ShowRatio(6);
    if (fromFirmware) {
        FW_TRACE(kRun, u"Function: SwitchToDownload");
        if (!switch_.SwitchToDownload(packet)) return false;
        reporter_.NoteCardState(CardState::BootDownloader);
    }
    if (from == CardState::FlashProgrammer) {
        if (!packet.Nop()) return false;
    } else {
        reporter_.ShowRatio(7);
        FW_TRACE(trace, u"Function: DownloadArmPrg");
        if (!programmer_.DownloadArmPrg(packet)) return false;
        reporter_.ShowRatio(8);
        if (fromFirmware) FW_TRACE(kRun, u"Function: ShowRatio 8");
        platform::Sleep(2000);
        FW_TRACE(trace, u"Function: GoToFlashPrg");
        if (!programmer_.GoToFlashPrg(packet)) return false;
    }
    reporter_.NoteCardState(CardState::FlashProgrammer);
    reporter_.ShowRatio(10);
    if (fromFirmware) FW_TRACE(kRun, u"Function: ShowRatio 10");
    return true;
}

bool RunSequence::ResetAndRestore(UpgradeRun& run) {
    CPacket& packet = *run.packet;
    if (!reporter_.EnterStep(RunStep::Reset)) return false;
    reporter_.ShowRatio(98);
    FW_TRACE(kRun, u"Function: ShowRatio 98");
    FW_TRACE(kRun, u"Function: ResetMobileSDP");
    if (!port_.ResetMobileSDP(packet)) return false;
    reporter_.NoteCardState(CardState::Firmware);
    if (!reporter_.EnterStep(RunStep::Restore)) return false;
    reporter_.ShowRatio(99);
    FW_TRACE(kRun, u"Function: ShowRatio 99");
    keeper_.Record().versionAfter = data_.identifiedVersion;
    if (!run.plan.RestoresData()) {
        FW_TRACE(kRun, u"Nothing is restored: the rescue was asked to go without the card's data");
        return true;
    }

    if (!data_.nv22Read) return false;
    if (run.plan.WritesEveryImage() && data_.lastCardState != CardState::Firmware && !RestoresOntoTheRightCard(packet))
        return false;
    for (int attempt = 0; attempt < 3; ++attempt) {
        std::memcpy(run.nv22, run.nv22Save, kNv22SaveSize);
        FW_TRACE(kRun, u"Function: NvItemWrite(22, item_data, status)");
        uint16_t status = 0;
        if (packet.NvItemWrite(kNv22Item, run.nv22, status)) break;
        platform::Sleep(200);
    }
    return phases_.RestoreAndReport(packet);
}

int32_t RunSequence::Upgrade(const RunPlan& plan, int32_t port, const std::u16string& packageFolder) {
    if (!reporter_.EnterStep(RunStep::Prepare)) return kUpgradeFailed;
    FW_TRACE(kRun, u"*****************FWUpgrade_DataCard_CDMA_W326.dll by qrix V1.00.01 20120112********************");
    reporter_.ShowRatio(0);
    FW_TRACE(kRun, u"Function: ShowRatio 0");

    UpgradeRun run;
    run.plan = plan;
    run.port = port;
    run.packageFolder = packageFolder;
    run.packet = std::make_unique<CPacket>();
    data_.fullDownload = false;
    ClearRunState();

    const int32_t prepared = PrepareAndIdentify(run);
    if (prepared == kPackageRejected) {
        run.packet.reset();
        return kPackageRejected;
    }
    if (prepared != kUpgradeOk) return plan.MayFinishInterruptedRun() ? FinishInterruptedRun(run) : Fail(run);

    if (!reporter_.EnterStep(RunStep::Backup) || !phases_.RunBackupPhase(*run.packet, packageFolder, plan)) return Fail(run);
    // Without item 22 in the pending backup, the item the card holds now goes back.
    if (keeper_.RestoringPending()) (void)LoadNv22FromBackup(run);
    if (plan.WritesEveryImage() && !data_.fullDownload) {
        // A rescue writes every image with cefs and restores the data saved.
        data_.fullDownload = true;
        keeper_.RecordFullDownload(FullDownloadReason::Rescue);
    }
    if (!reporter_.EnterStep(RunStep::Switch) || !SwitchAndStartProgrammer(run)) return Fail(run);
    if (!reporter_.EnterStep(RunStep::Images) || !writer_.FlashImages(*run.packet)) return Fail(run);
    if (data_.fullDownload && !ResetAndRestore(run)) return Fail(run);

    reporter_.ShowRatio(100);
    FW_TRACE(kRun, u"Function: ShowRatio 100");
    DealError(run.packet);
    FW_TRACE(kRun, u"HOLFunctonSuccess--------W326-----------------------------------");
    return kUpgradeOk;
}

bool RunSequence::RestoresOntoTheRightCard(CPacket& packet) {
    uint32_t esn = 0;
    if (!ReadCardEsn(packet, esn)) {
        FW_TRACE(kRescue, u"The card's ESN cannot be read after the reset: nothing is restored");
        reporter_.NoteCardFailure(&packet);
        return false;
    }
    if (esn == keeper_.Record().esn) return true;
    reporter_.NoteFailure(FailureReason::OtherCard);
    FW_TRACE(kRescue, u"The card (ESN %s) is not the card of the backup (ESN %s): nothing is restored",
             Wide(EsnText(esn)).c_str(), Wide(EsnText(keeper_.Record().esn)).c_str());
    return false;
}

bool RunSequence::ChosenBackupFitsTheCard(const RunPlan& plan, CardState state) {
    if (plan.chosenBackup.empty()) return true;
    BackupRecord chosen, pending;
    std::string error;
    // An unreadable choice is refused later, with its own reason.
    if (ReadBackupRecord(JoinPath(plan.chosenBackup, kBackupRecordName), chosen, error) != RecordRead::Read) return true;
    uint32_t cardEsn = 0;
    if (state == CardState::Firmware) {
        cardEsn = data_.cardEsn;
    } else if (ReadBackupRecord(keeper_.RecordPath(), pending, error) == RecordRead::Read && pending.RestorePending()) {
        cardEsn = pending.esn;   // the card an interrupted run left on this port
    }
    if (cardEsn == 0 || cardEsn == chosen.esn) return true;
    FW_TRACE(kRescue, u"The backup in %s belongs to the card with ESN %s, this card has ESN %s: nothing is written",
             plan.chosenBackup.c_str(), Wide(EsnText(chosen.esn)).c_str(), Wide(EsnText(cardEsn)).c_str());
    data_.cardEsn = cardEsn;
    reporter_.NoteFailure(FailureReason::OtherCard);
    return false;
}

int32_t RunSequence::Rescue(const RunPlan& plan, int32_t port, const std::u16string& packageFolder) {
    FW_TRACE(kRescue, u"Rescue the card on port %d with the package %s", port, packageFolder.c_str());
    UpgradeRun run;
    run.plan = plan;
    run.port = port;
    run.packageFolder = packageFolder;
    run.packet = std::make_unique<CPacket>();
    ClearRunState();
    if (!reporter_.EnterStep(RunStep::Prepare)) return kUpgradeFailed;
    reporter_.ShowRatio(0);
    if (!images_.Initialize(packageFolder)) return kPackageRejected;
    keeper_.SetRecordPath(JoinPath(packageFolder, kBackupRecordName));
    if (!images_.SelectArmprgAccordingToPidVid(packageFolder)) {
        reporter_.NoteFailure(FailureReason::Package);
        return Fail(run);
    }

    const CardState state = probe_.ProbeCardState(*run.packet, port);
    if (state == CardState::Firmware) {
        // Upgraded as a retry is: the whole package, the backup restored.
        if (!ChosenBackupFitsTheCard(plan, state)) return Fail(run);
        DealError(run.packet);
        return Upgrade(plan, port, packageFolder);
    }
    return FlashFromOutsideFirmware(run, state);
}

int32_t RunSequence::FinishInterruptedRun(UpgradeRun& run) {
    const std::u16string packageRecord = JoinPath(run.packageFolder, kBackupRecordName);
    std::u16string recordPath = packageRecord;
    BackupRecord pending;
    std::string error;
    const bool besidePackage =
        ReadBackupRecord(packageRecord, pending, error) == RecordRead::Read && pending.RestorePending();
    if (!besidePackage && !keeper_.OnlyNotedPendingRecord(packageRecord, pending, recordPath)) return Fail(run);
    FW_TRACE(kRescue, u"No answer in the firmware, and %s holds a restore pending: look for the card outside it",
             recordPath.c_str());
    if (!images_.SelectArmprgAccordingToPidVid(run.packageFolder)) {
        reporter_.NoteFailure(FailureReason::Package);
        return Fail(run);
    }
    const CardState state = probe_.ProbeCardState(*run.packet, run.port);
    if (state != CardState::BootDownloader && state != CardState::FlashProgrammer) return Fail(run);
    FW_TRACE(kRescue, u"Finish the interrupted run of %s (ESN %s) as a rescue", Wide(pending.time).c_str(),
             Wide(EsnText(pending.esn)).c_str());
    // The silence in the firmware is explained: the outcome is the rescue's.
    reporter_.ForgetFailure();
    keeper_.SetRecordPath(recordPath);
    run.plan = RunPlan::FinishInterrupted();
    return FlashFromOutsideFirmware(run, state);
}

int32_t RunSequence::FlashFromOutsideFirmware(UpgradeRun& run, CardState state) {
    if (state != CardState::BootDownloader && state != CardState::FlashProgrammer) {
        reporter_.NoteFailure(FailureReason::NoAnswer);
        return Fail(run);
    }
    if (!run.plan.RestoresData()) {
        FW_TRACE(kRescue, u"Rescue without the card's data: cefs.mbn wipes the card and nothing is restored");
    } else if (!ChosenBackupFitsTheCard(run.plan, state) || !keeper_.TakeRescueBackup(run.plan)) {
        return Fail(run);
    } else if (!LoadNv22FromBackup(run)) {
        reporter_.NoteFailure(FailureReason::NoBackup);
        return Fail(run);
    }
    data_.fullDownload = true;
    // The card is outside its firmware: from here a host treats the rescue
    // as a run past the switch.
    if (!reporter_.EnterStep(RunStep::Switch) || !StartProgrammer(run, state)) return Fail(run);
    if (!reporter_.EnterStep(RunStep::Images) || !writer_.FlashImages(*run.packet) || !ResetAndRestore(run)) return Fail(run);
    reporter_.ShowRatio(100);
    DealError(run.packet);
    FW_TRACE(kRescue, u"The card is rescued");
    return kUpgradeOk;
}

bool RunSequence::LoadNv22FromBackup(UpgradeRun& run) {
    std::vector<nvtable::NvRecord> records;
    if (!ReadNvTable(data_.channelNvPath, records)) return false;
    for (const nvtable::NvRecord& record : records) {
        if (record.item != kNv22Item || record.status != 0) continue;
        std::memcpy(run.nv22, record.data.data(), sizeof run.nv22);
        std::memset(run.nv22Save, 0, sizeof run.nv22Save);
        std::memcpy(run.nv22Save, run.nv22, kNv22KeptBytes);
        data_.nv22Read = true;
        return true;
    }
    return false;
}

}  // namespace upgrade

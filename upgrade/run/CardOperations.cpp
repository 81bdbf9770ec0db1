// Operations on a card beside the upgrade run, made of the run's own phases
// and operations: saving a card's data alone and writing a kept backup back.
#include "platform/Trace.h"
#include "upgrade/backup/BackupStore.h"
#include "upgrade/run/UpgradeInternal.h"
#include "upgrade/run/UpgradeModule.h"

namespace upgrade {
namespace {

constexpr const char16_t* kBackup = u"CFWUpgradeDataCDMA7627Module::BackupCard";
constexpr const char16_t* kRestore = u"CFWUpgradeDataCDMA7627Module::RestoreCard";

std::u16string Wide(const std::string& text) { return platform::Utf8ToWide(text); }

// Opens the port and finds the card answering in its firmware (also from
// the AT-command port the new firmware starts with).
bool ReachFirmware(CardPort& cardPort, CPacket& packet, int32_t port) {
    if (!cardPort.InitPort(packet, port) && !cardPort.InitPort(packet, port)) return false;
    return packet.CommunicateWithMobile();
}

}  // namespace

bool UpgradeModule::BackupCard(int32_t port, const std::u16string& folder) {
    sequence_.ClearRunState();
    reporter_.Start();
    data_.fullDownload = false;
    CPacket packet;
    FW_TRACE(kBackup, u"Back up the card on port %d into %s", port, folder.c_str());
    data_.channelNvPath = JoinPath(folder, u"channel.nvm");
    data_.lockBackupPath = JoinPath(folder, kKeptLockName);
    bool saved = reporter_.EnterStep(RunStep::Prepare) && ReachFirmware(port_, packet, port);
    if (!saved) FW_TRACE(kBackup, u"The card does not answer in its firmware");
    if (saved) {
        reporter_.NoteCardState(CardState::Firmware);
        (void)switch_.SelectPhoneType(packet);   // only for the version the record names ("" when unread)
        saved = reporter_.EnterStep(RunStep::Backup) && phases_.RunBackupPhase(packet, folder, RunPlan::Upgrade());
        // The listing switched lock-file access on; a backup never leaves it so.
        if (!packet.EnableDisableLockFileRW(0)) FW_TRACE(kBackup, u"Lock-file access could not be switched off");
    }
    if (!saved) reporter_.NoteCardFailure(&packet);
    if (packet.IsOpen()) packet.Close();
    ReportOutcome(saved ? kUpgradeOk : kUpgradeFailed, {});
    return saved;
}

bool UpgradeModule::RestoreCard(int32_t port, const std::u16string& keptFolder, bool force) {
    reporter_.Start();
    const bool restored = RestoreSteps(port, keptFolder, force);
    ReportOutcome(restored ? kUpgradeOk : kUpgradeFailed, {});
    return restored;
}

bool UpgradeModule::RestoreSteps(int32_t port, const std::u16string& keptFolder, bool force) {
    sequence_.ClearRunState();
    if (!reporter_.EnterStep(RunStep::Prepare)) return false;
    FW_TRACE(kRestore, u"Restore %s to the card on port %d", keptFolder.c_str(), port);
    BackupRecord record;
    std::string error;
    const RecordRead read = ReadBackupRecord(JoinPath(keptFolder, kBackupRecordName), record, error);
    if (read != RecordRead::Read || !BackupFilesMatch(record, error)) {
        FW_TRACE(kRestore, u"The backup in %s cannot be restored: %s", keptFolder.c_str(),
                 Wide(read == RecordRead::Missing ? "it holds no backup record" : error).c_str());
        reporter_.NoteFailure(FailureReason::NoBackup);
        return false;
    }
    CPacket packet;
    if (!ReachFirmware(port_, packet, port) || !ReadCardEsn(packet, data_.cardEsn)) {
        FW_TRACE(kRestore, u"The card does not answer in its firmware");
        reporter_.NoteCardFailure(&packet);
        return false;
    }
    reporter_.NoteCardState(CardState::Firmware);
    reporter_.ReportCardIdentified(data_.cardEsn, data_.softwareVersion);
    if (data_.cardEsn != record.esn && !force) {
        FW_TRACE(kRestore, u"The backup belongs to the card with ESN %s, this card has ESN %s",
                 Wide(EsnText(record.esn)).c_str(), Wide(EsnText(data_.cardEsn)).c_str());
        reporter_.NoteFailure(FailureReason::OtherCard);
        packet.Close();
        return false;
    }
    // A kept record stays as it was written; a pending one (beside a
    // package's channel.nvm) learns what went back.
    keeper_.TakeKeptBackup(record, keptFolder);
    const bool restored = reporter_.EnterStep(RunStep::Restore) && phases_.RestoreAndReport(packet);
    if (packet.IsOpen()) packet.Close();
    return restored;
}

}  // namespace upgrade

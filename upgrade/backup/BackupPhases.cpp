// The two phases that carry the card's own data across the reflash: the
// backup before the card leaves its firmware and the restore after the reset
// into the new one. The order inside the backup phase is fixed: backup
// folder, Wi-Fi address, lock files, NV items. The backup record beside
// channel.nvm follows each step that matters for the card's data.
#include "upgrade/backup/BackupPhases.h"

#include <algorithm>

#include "platform/Trace.h"
#include "upgrade/backup/BackupStore.h"
#include "upgrade/backup/BackupKeeper.h"
#include "upgrade/backup/LockFiles.h"
#include "upgrade/backup/NvBackup.h"
#include "upgrade/run/RunData.h"
#include "upgrade/run/RunReporter.h"
#include "upgrade/run/UpgradeInternal.h"

namespace upgrade {

namespace {

constexpr const char16_t* kSequenceFunction = u"CFWUpgradeDataCDMA7627Module::FirmWareUpgrade";
constexpr const char16_t* kLockFileRoot = u"vek";

// Where a retry puts what it reads from a card whose restore is pending, so
// that the pending backup files stay as they are.
std::u16string ReadWhilePendingPath(const std::u16string& path) { return path + u".read"; }

// A card whose restore is pending elsewhere (another package folder, a
// restore that was stopped) holds what a wipe left, not its own data: what it
// holds now is read beside that backup, never taken for its own. True when
// the pending backup can be restored from; apartFrom is set whenever the
// read must be kept apart (to the pending backup's time, or "unknown" when
// its record is gone).
bool FindNotedPendingBackup(uint32_t esn, BackupRecord& pending, const std::u16string& recordPath,
                            std::string& apartFrom) {
    std::u16string path;
    std::string error;
    switch (FindNotedPendingRecord(esn, recordPath, pending, path, error)) {
        case NotedPending::None: return false;
        case NotedPending::Usable:
            FW_TRACE(kSequenceFunction, u"A restore of this card is pending from %s", path.c_str());
            apartFrom = pending.time;
            return true;
        case NotedPending::Unusable: break;
    }
    apartFrom = pending.time.empty() ? "unknown" : pending.time;
    FW_TRACE(kSequenceFunction,
             u"A restore of this card is pending from %s, which cannot be used (%s): what the card holds now is kept "
             u"apart, not as its own data",
             path.c_str(), platform::Utf8ToWide(error).c_str());
    return false;
}

}  // namespace

bool BackupPhases::RunBackupPhase(CPacket& packet, const std::u16string& packageFolder, const RunPlan& plan) {
    FW_TRACE(kSequenceFunction, u"Function: CreateNVBackupDirectory");
    if (!NvBackup::CreateNVBackupDirectory(packageFolder)) {
        reporter_.NoteFailure(FailureReason::FileSystem);
        return false;
    }

    uint32_t esn = 0;
    const bool esnRead = ReadCardEsn(packet, esn);
    keeper_.SetRecordPath(JoinPath(packageFolder, kBackupRecordName));
    BackupRecord pending;
    std::string apartFrom;
    const bool retry = keeper_.FindPendingBackup(plan, esnRead, esn, pending) ||
                       (esnRead && FindNotedPendingBackup(esn, pending, keeper_.RecordPath(), apartFrom));
    if (!esnRead) {
        // A backup must be found again by the ESN of its card.
        FW_TRACE(kSequenceFunction, u"The card's ESN cannot be read: the card is left as it is");
        return false;
    }
    reporter_.ReportCardIdentified(esn, data_.softwareVersion);
    std::u16string nvTarget = data_.channelNvPath;
    if (retry) {
        nvTarget = ReadWhilePendingPath(data_.channelNvPath);
        data_.lockBackupPath = ReadWhilePendingPath(data_.lockBackupPath);
    }

    if (!BackupWifiAddress(packet) || !BackupLockFiles(packet)) {
        return false;
    }

    FW_TRACE(kSequenceFunction, u"Function: BackupNVMOP");
    if (!nv_.BackupNVMOP(packet, nvTarget)) {
        return false;
    }
    BackupRecord saved;
    if (!keeper_.DescribeBackup(esnRead ? esn : 0, nvTarget, saved)) {
        reporter_.NoteFailure(FailureReason::FileSystem);
        return false;
    }
    saved.readWhilePending = apartFrom;
    const bool recorded = retry ? keeper_.AdoptPendingBackup(plan, pending, std::move(saved)) : keeper_.RecordFreshBackup(saved);
    if (!recorded) reporter_.NoteFailure(FailureReason::FileSystem);
    return recorded;
}

// False when the card may hold an address that could not be read: the
// reflash would lose it.
bool BackupPhases::BackupWifiAddress(CPacket& packet) {
    data_.backup.wifiSaved = true;
    FW_TRACE(kSequenceFunction, u"Function: ReadWiFiAddress1");
    int wifi = packet.ReadWiFiAddress(data_.backup.wifiAddress);
    if (wifi != 1) {
        FW_TRACE(kSequenceFunction, u"Function: ReadWiFiAddress2");
        wifi = packet.ReadWiFiAddress(data_.backup.wifiAddress);
        if (wifi == 0) {
            FW_TRACE(kSequenceFunction, u"backup wifi failed,make sure the wifi address be written!");
            data_.backup.wifiSaved = false;
            reporter_.ReportWifiNotSaved(LossReason::NotSaved);
        } else if (wifi == -1 && !packet.AnsweredUnknownCommand()) {
            // Not answered at all: the card may well have an address, which the reflash would lose.
            FW_TRACE(kSequenceFunction, u"The Wi-Fi address cannot be read: the card is left as it is");
            return false;
        } else if (wifi == -1) {
            FW_TRACE(kSequenceFunction, u"The phone software do not support reading wifi address command");
            data_.backup.wifiSaved = false;
            reporter_.ReportWifiNotSaved(LossReason::Unsupported);
        } else if (wifi != 1) {
            // Any other answer is no address either; never write back what was not read.
            data_.backup.wifiSaved = false;
            reporter_.ReportWifiNotSaved(LossReason::NotSaved);
        }
    }
    return true;
}

// False when the card holds lock files that could not be listed or saved.
bool BackupPhases::BackupLockFiles(CPacket& packet) {
    data_.backup.lockFilesSaved = true;
    FW_TRACE(kSequenceFunction, u"EnumAllAbsoluteFilePathInEfsDir");
    data_.backup.lockFiles.clear();
    if (!locks_.EnumAllAbsoluteFilePathInEfsDir(packet, kLockFileRoot, data_.backup.lockFiles)) {
        FW_TRACE(kSequenceFunction, u"function EnumAllAbsoluteFilePathInEfsDir fail");
        data_.backup.lockFilesSaved = false;
        data_.backup.lockFiles.clear();
        if (!data_.backup.lockFolderMissing) {
            // Lock files the card has but that could not be listed would be lost.
            FW_TRACE(kSequenceFunction, u"The lock files cannot be listed: the card is left as it is");
            return false;
        }
    } else if (!locks_.BackupLockFile(data_.backup.lockFiles, packet)) {
        FW_TRACE(kSequenceFunction, u"function Backup Lockfile fail");
        data_.backup.lockFilesSaved = false;
        return false;
    }
    return true;
}

bool BackupPhases::RunRestorePhase(CPacket& packet) {
    BackupRecord& record = keeper_.Record();
    record.nvRestore = record.wifiRestore = RestoreResult::NotRun;
    record.nvRestored.clear();
    record.nvNotRestored.clear();
    for (RecordedLockFile& entry : record.lockFiles) entry.restore = RestoreResult::NotRun;
    // Checked again on use: the files may have changed since the backup was read.
    BackupRecord nvOnly = record;
    nvOnly.lockFilesSaved = false;
    std::string changed;
    if (!BackupFilesMatch(nvOnly, changed)) {
        FW_TRACE(kSequenceFunction, u"The backup no longer matches its record (%s): nothing is written back",
                 platform::Utf8ToWide(changed).c_str());
        record.nvRestore = RestoreResult::Failed;
        (void)keeper_.SaveRecord();   // traced; the restore stays pending either way
        return false;
    }
    const bool locksIntact = !data_.backup.lockFilesSaved || BackupFilesMatch(record, changed);

    FW_TRACE(kSequenceFunction, u"Function: RestoreNVMOP");
    const bool nvRestored = nv_.RestoreNVMOP(packet, data_.channelNvPath);
    record.nvRestore = nvRestored ? RestoreResult::Done : RestoreResult::Failed;
    record.nvRestored = data_.nvRestore.restored;
    record.nvNotRestored = data_.nvRestore.notRestored;
    (void)keeper_.SaveRecord();   // traced; the restore goes on whatever its notes say
    if (!nvRestored) {
        return false;
    }
    if (data_.backup.wifiSaved) RestoreWifiAddress(packet);
    RestoreLockFiles(packet, locksIntact, changed);
    record.restored = true;
    (void)keeper_.SaveRecord();   // traced; the data is back on the card, a record that says otherwise only repeats it
    // The card holds its own data again, wherever a note said it waited.
    if (record.readWhilePending.empty() && data_.cardEsn == record.esn) ForgetPendingNote(record.esn);
    return true;
}

void BackupPhases::RestoreWifiAddress(CPacket& packet) {
    FW_TRACE(kSequenceFunction, u"Execute WriteWiFiAddress1 function");
    bool written = packet.WriteWiFiAddress(data_.backup.wifiAddress) == 1;
    if (!written) {
        FW_TRACE(kSequenceFunction, u"Execute WriteWiFiAddress2 function");
        written = packet.WriteWiFiAddress(data_.backup.wifiAddress) == 1;
        if (!written) {
            FW_TRACE(kSequenceFunction, u"Execute WriteWiFiAddress2 function fail ");
        }
    }
    keeper_.Record().wifiRestore = written ? RestoreResult::Done : RestoreResult::Failed;
    (void)keeper_.SaveRecord();   // traced; the restore goes on whatever its notes say
}

void BackupPhases::RestoreLockFiles(CPacket& packet, bool locksIntact, const std::string& changed) {
    if (!data_.backup.lockFilesSaved) return;
    BackupRecord& record = keeper_.Record();
    if (!locksIntact) {
        FW_TRACE(kSequenceFunction, u"The lock backup no longer matches its record (%s): no lock file is written back",
                 platform::Utf8ToWide(changed).c_str());
        for (RecordedLockFile& entry : record.lockFiles) entry.restore = RestoreResult::Failed;
        return;
    }
    if (!locks_.RestoreLockFile(packet, data_.backup.lockFiles)) {
        FW_TRACE(kSequenceFunction, u"Execute RestoreLockFile function fail ");
    }
    const size_t known = std::min(data_.lockRestore.size(), record.lockFiles.size());
    for (size_t i = 0; i < known; ++i) record.lockFiles[i].restore = data_.lockRestore[i];
}

bool BackupPhases::RestoreAndReport(CPacket& packet) {
    const bool restored = RunRestorePhase(packet);
    reporter_.ReportLosses(keeper_.Record(), data_.backup);
    if (!restored) reporter_.NoteCardFailure(&packet);
    return restored;
}

}  // namespace upgrade

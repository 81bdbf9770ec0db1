// The two phases that carry the card's own data across the reflash: the
// backup before the card leaves its firmware and the restore after the reset
// into the new one. The order inside the backup phase is fixed: backup
// folder, Wi-Fi address, lock files, NV items. The backup record beside
// channel.nvm follows each step that matters for the card's data.
#include <algorithm>

#include "platform/Trace.h"
#include "upgrade/backup/BackupStore.h"
#include "upgrade/run/FWUpgradeDataCDMAW326Module.h"
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

bool UpgradeModule::RunBackupPhase(CPacket& packet, const std::u16string& packageFolder) {
    FW_TRACE(kSequenceFunction, u"Function: CreateNVBackupDirectory");
    if (!CreateNVBackupDirectory(packageFolder)) {
        NoteFailure(FailureReason::FileSystem);
        return false;
    }

    uint32_t esn = 0;
    const bool esnRead = ReadCardEsn(packet, esn);
    m_strRecordPath = JoinPath(packageFolder, kBackupRecordName);
    BackupRecord pending;
    std::string apartFrom;
    const bool retry = FindPendingBackup(esnRead, esn, pending) ||
                       (esnRead && FindNotedPendingBackup(esn, pending, m_strRecordPath, apartFrom));
    if (!esnRead) {
        // A backup must be found again by the ESN of its card.
        FW_TRACE(kSequenceFunction, u"The card's ESN cannot be read: the card is left as it is");
        return false;
    }
    if (m_Events) m_Events->OnCardIdentified(esn, m_strSoftwareVersion);
    std::u16string nvTarget = m_strChannelNvPath;
    if (retry) {
        nvTarget = ReadWhilePendingPath(m_strChannelNvPath);
        m_strLockBackupPath = ReadWhilePendingPath(m_strLockBackupPath);
    }

    if (!BackupWifiAddress(packet) || !BackupLockFiles(packet)) {
        return false;
    }

    FW_TRACE(kSequenceFunction, u"Function: BackupNVMOP");
    if (!BackupNVMOP(packet, nvTarget)) {
        return false;
    }
    BackupRecord saved;
    if (!DescribeBackup(esnRead ? esn : 0, nvTarget, saved)) {
        NoteFailure(FailureReason::FileSystem);
        return false;
    }
    saved.readWhilePending = apartFrom;
    const bool recorded = retry ? AdoptPendingBackup(pending, std::move(saved)) : RecordFreshBackup(saved);
    if (!recorded) NoteFailure(FailureReason::FileSystem);
    return recorded;
}

// False when the card may hold an address that could not be read: the
// reflash would lose it.
bool UpgradeModule::BackupWifiAddress(CPacket& packet) {
    m_Backup.wifiSaved = true;
    FW_TRACE(kSequenceFunction, u"Function: ReadWiFiAddress1");
    int wifi = packet.ReadWiFiAddress(m_Backup.wifiAddress);
    if (wifi != 1) {
        FW_TRACE(kSequenceFunction, u"Function: ReadWiFiAddress2");
        wifi = packet.ReadWiFiAddress(m_Backup.wifiAddress);
        if (wifi == 0) {
            FW_TRACE(kSequenceFunction, u"backup wifi failed,make sure the wifi address be written!");
            m_Backup.wifiSaved = false;
            ReportWifiNotSaved(LossReason::NotSaved);
        } else if (wifi == -1 && !packet.AnsweredUnknownCommand()) {
            // Not answered at all: the card may well have an address, which the reflash would lose.
            FW_TRACE(kSequenceFunction, u"The Wi-Fi address cannot be read: the card is left as it is");
            return false;
        } else if (wifi == -1) {
            FW_TRACE(kSequenceFunction, u"The phone software do not support reading wifi address command");
            m_Backup.wifiSaved = false;
            ReportWifiNotSaved(LossReason::Unsupported);
        } else if (wifi != 1) {
            // Any other answer is no address either; never write back what was not read.
            m_Backup.wifiSaved = false;
            ReportWifiNotSaved(LossReason::NotSaved);
        }
    }
    return true;
}

// False when the card holds lock files that could not be listed or saved.
bool UpgradeModule::BackupLockFiles(CPacket& packet) {
    m_Backup.lockFilesSaved = true;
    FW_TRACE(kSequenceFunction, u"EnumAllAbsoluteFilePathInEfsDir");
    m_Backup.lockFiles.clear();
    if (!EnumAllAbsoluteFilePathInEfsDir(packet, kLockFileRoot, m_Backup.lockFiles)) {
        FW_TRACE(kSequenceFunction, u"function EnumAllAbsoluteFilePathInEfsDir fail");
        m_Backup.lockFilesSaved = false;
        m_Backup.lockFiles.clear();
        if (!m_Backup.lockFolderMissing) {
            // Lock files the card has but that could not be listed would be lost.
            FW_TRACE(kSequenceFunction, u"The lock files cannot be listed: the card is left as it is");
            return false;
        }
    } else if (!BackupLockFile(m_Backup.lockFiles, packet)) {
        FW_TRACE(kSequenceFunction, u"function Backup Lockfile fail");
        m_Backup.lockFilesSaved = false;
        return false;
    }
    return true;
}

bool UpgradeModule::RunRestorePhase(CPacket& packet) {
    m_Record.nvRestore = m_Record.wifiRestore = RestoreResult::NotRun;
    m_Record.nvRestored.clear();
    m_Record.nvNotRestored.clear();
    for (RecordedLockFile& entry : m_Record.lockFiles) entry.restore = RestoreResult::NotRun;
    // Checked again on use: the files may have changed since the backup was read.
    BackupRecord nvOnly = m_Record;
    nvOnly.lockFilesSaved = false;
    std::string changed;
    if (!BackupFilesMatch(nvOnly, changed)) {
        FW_TRACE(kSequenceFunction, u"The backup no longer matches its record (%s): nothing is written back",
                 platform::Utf8ToWide(changed).c_str());
        m_Record.nvRestore = RestoreResult::Failed;
        (void)SaveRecord();   // traced; the restore stays pending either way
        return false;
    }
    const bool locksIntact = !m_Backup.lockFilesSaved || BackupFilesMatch(m_Record, changed);

    FW_TRACE(kSequenceFunction, u"Function: RestoreNVMOP");
    const bool nvRestored = RestoreNVMOP(packet, m_strChannelNvPath);
    m_Record.nvRestore = nvRestored ? RestoreResult::Done : RestoreResult::Failed;
    m_Record.nvRestored = m_NvRestore.restored;
    m_Record.nvNotRestored = m_NvRestore.notRestored;
    (void)SaveRecord();   // traced; the restore goes on whatever its notes say
    if (!nvRestored) {
        return false;
    }

    if (m_Backup.wifiSaved) {
        FW_TRACE(kSequenceFunction, u"Execute WriteWiFiAddress1 function");
        bool written = packet.WriteWiFiAddress(m_Backup.wifiAddress) == 1;
        if (!written) {
            FW_TRACE(kSequenceFunction, u"Execute WriteWiFiAddress2 function");
            written = packet.WriteWiFiAddress(m_Backup.wifiAddress) == 1;
            if (!written) {
                FW_TRACE(kSequenceFunction, u"Execute WriteWiFiAddress2 function fail ");
            }
        }
        m_Record.wifiRestore = written ? RestoreResult::Done : RestoreResult::Failed;
        (void)SaveRecord();   // traced; the restore goes on whatever its notes say
    }

    if (m_Backup.lockFilesSaved && !locksIntact) {
        FW_TRACE(kSequenceFunction, u"The lock backup no longer matches its record (%s): no lock file is written back",
                 platform::Utf8ToWide(changed).c_str());
        for (RecordedLockFile& entry : m_Record.lockFiles) entry.restore = RestoreResult::Failed;
    } else if (m_Backup.lockFilesSaved) {
        if (!RestoreLockFile(packet, m_Backup.lockFiles)) {
            FW_TRACE(kSequenceFunction, u"Execute RestoreLockFile function fail ");
        }
        const size_t known = std::min(m_LockRestore.size(), m_Record.lockFiles.size());
        for (size_t i = 0; i < known; ++i) m_Record.lockFiles[i].restore = m_LockRestore[i];
    }
    m_Record.restored = true;
    (void)SaveRecord();   // traced; the data is back on the card, a record that says otherwise only repeats it
    // The card holds its own data again, wherever a note said it waited.
    if (m_Record.readWhilePending.empty() && m_dwCardEsn == m_Record.esn) ForgetPendingNote(m_Record.esn);
    return true;
}

}  // namespace upgrade

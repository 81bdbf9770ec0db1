// The run's side of the backup record: finding a backup an earlier run left
// pending, describing and keeping a new backup, and rewriting the record
// each time the run takes the card a step further.
#include <cstring>

#include "platform/Trace.h"
#include "upgrade/backup/BackupStore.h"
#include "upgrade/run/UpgradeModule.h"
#include "upgrade/backup/NvBackupTable.h"
#include "upgrade/backup/NvItems.h"
#include "upgrade/backup/Sha256.h"

namespace upgrade {
namespace {

constexpr const char16_t* kRecord = u"CFWUpgradeDataCDMA7627Module::BackupRecord";

std::u16string Wide(const std::string& text) { return platform::Utf8ToWide(text); }

bool ReadNvTable(const std::u16string& path, std::vector<nvtable::NvRecord>& records) {
    platform::File file;
    if (!file.OpenRead(path) || file.Length() != nvtable::kTableSize) return false;
    std::vector<uint8_t> table(nvtable::kTableSize);
    return file.Read(table.data(), static_cast<uint32_t>(table.size())) == table.size() &&
           nvtable::DecodeTable(table, records);
}

}  // namespace

bool UpgradeModule::SaveRecord() {
    if (!m_bRecordActive) return true;
    std::string error;
    if (WriteBackupRecord(m_strRecordPath, m_Record, error)) {
        NotePendingRecord(m_Record.esn, AbsolutePath(m_strRecordPath), m_Record.RestorePending());
        return true;
    }
    FW_TRACE(kRecord, u"The backup record %s could not be written: %s", m_strRecordPath.c_str(), Wide(error).c_str());
    return false;
}

void UpgradeModule::RecordFullDownload(FullDownloadReason reason) {
    if (m_Record.fullDownload != FullDownloadReason::None) return;
    m_Record.fullDownload = reason;
    (void)SaveRecord();   // traced; the reason is a note, the run does not depend on it
}

bool UpgradeModule::FindPendingBackup(const RunPlan& plan, bool esnRead, uint32_t esn, BackupRecord& pending) {
    const bool chosen = plan.RestoresChosenBackup();
    const std::u16string path = chosen ? JoinPath(plan.chosenBackup, kBackupRecordName) : m_strRecordPath;
    std::string error;
    switch (ReadBackupRecord(path, pending, error)) {
        case RecordRead::Missing:
            if (chosen) FW_TRACE(kRecord, u"There is no backup record in %s", plan.chosenBackup.c_str());
            return false;
        case RecordRead::Refused:
            FW_TRACE(kRecord, u"The backup record %s is refused: %s", path.c_str(), Wide(error).c_str());
            return false;
        case RecordRead::Read: break;
    }
    if (!chosen && !pending.RestorePending()) return false;

    std::string why;
    if (!esnRead) {
        why = "the card's ESN could not be read";
    } else if (pending.esn != esn) {
        why = "it belongs to the card with ESN " + EsnText(pending.esn) + ", this card has ESN " + EsnText(esn);
    } else if (BackupFilesMatch(pending, why)) {
        return true;
    }
    FW_TRACE(kRecord, u"The pending backup of %s in %s is not used: %s", Wide(pending.time).c_str(), path.c_str(),
             Wide(why).c_str());
    // This run replaces the files beside the record: make sure the other
    // card's data survives in a kept backup first.
    std::u16string kept;
    if (!chosen && BackupFilesMatch(pending, error) && !KeepBackup(pending, kept, error))
        FW_TRACE(kRecord, u"The pending backup of %s could not be kept: %s", Wide(pending.time).c_str(),
                 Wide(error).c_str());
    return false;
}

bool UpgradeModule::DescribeBackup(uint32_t esn, const std::u16string& nvPath, BackupRecord& out) {
    out = BackupRecord{};
    out.esn = esn;
    out.version = m_strSoftwareVersion;
    out.time = RecordTimeNow();
    out.nvFile = AbsolutePath(nvPath);
    out.wifiSaved = m_Backup.wifiSaved;
    std::memcpy(out.wifi.data(), m_Backup.wifiAddress, out.wifi.size());
    out.lockFilesSaved = m_Backup.lockFilesSaved;
    if (out.lockFilesSaved) {
        out.lockFile = AbsolutePath(m_strLockBackupPath);
        for (const LockFileEntry& entry : m_Backup.lockFiles) out.lockFiles.push_back({entry.path, entry.size});
    }
    out.fullDownload = bFullDownload ? FullDownloadReason::Q7k : FullDownloadReason::None;
    const bool digested = Sha256OfFile(out.nvFile, out.nvSha256) &&
                          (!out.lockFilesSaved || Sha256OfFile(out.lockFile, out.lockSha256));
    if (!digested) FW_TRACE(kRecord, u"The backup files of %s cannot be read back", out.nvFile.c_str());
    return digested;
}

bool UpgradeModule::RecordFreshBackup(const BackupRecord& fresh) {
    m_Record = fresh;
    m_bRecordActive = true;
    if (!SaveRecord()) return false;
    std::string error;
    if (KeepBackup(m_Record, m_strKeptBackup, error)) return true;
    // The card leaves its firmware only with its data durable in two places.
    FW_TRACE(kRecord, u"The backup could not be kept: %s; the card is left as it is", Wide(error).c_str());
    return false;
}

bool UpgradeModule::AdoptPendingBackup(const RunPlan& plan, const BackupRecord& pending, BackupRecord readNow) {
    readNow.readWhilePending = pending.time;
    std::string error;
    if (KeepBackup(readNow, m_strKeptReadNow, error)) {
        // Verified copies are kept; a file left here is replaced by the next backup.
        (void)platform::RemoveFile(readNow.nvFile);
        if (readNow.lockFilesSaved) (void)platform::RemoveFile(readNow.lockFile);
    } else {
        FW_TRACE(kRecord, u"What the card holds now could not be kept (left in %s): %s", readNow.nvFile.c_str(),
                 Wide(error).c_str());
    }
    if (!KeepBackup(pending, m_strKeptBackup, error))
        FW_TRACE(kRecord, u"The pending backup could not be kept: %s", Wide(error).c_str());

    const std::u16string source = platform::RemoveFileSpec(pending.nvFile);
    if (plan.RestoresChosenBackup())
        FW_TRACE(kRecord, u"Restore the chosen backup of %s (ESN %s, software %s): %s", Wide(pending.time).c_str(),
                 Wide(EsnText(pending.esn)).c_str(), Wide(pending.version).c_str(), source.c_str());
    else
        FW_TRACE(kRecord, u"Restore from the backup of %s (ESN %s, software %s) that an earlier run left pending: %s",
                 Wide(pending.time).c_str(), Wide(EsnText(pending.esn)).c_str(), Wide(pending.version).c_str(),
                 source.c_str());
    AdoptAsRunRecord(pending);
    // The card is wiped and restored whatever its table and version say now.
    bFullDownload = 1;
    return true;
}

bool UpgradeModule::LoadNv22FromBackup(UpgradeRun& run) {
    std::vector<nvtable::NvRecord> records;
    if (!ReadNvTable(m_strChannelNvPath, records)) return false;
    for (const nvtable::NvRecord& record : records) {
        if (record.item != kNv22Item || record.status != 0) continue;
        std::memcpy(run.nv22, record.data.data(), sizeof run.nv22);
        std::memset(run.nv22Save, 0, sizeof run.nv22Save);
        std::memcpy(run.nv22Save, run.nv22, kNv22KeptBytes);
        m_bNv22Read = 1;
        return true;
    }
    return false;
}

}  // namespace upgrade

// The run's side of the backup record: finding a backup an earlier run left
// pending, describing and keeping a new backup, and rewriting the record
// each time the run takes the card a step further.
#include "upgrade/backup/BackupKeeper.h"

#include <cstring>

#include "platform/Platform.h"
#include "platform/Trace.h"
#include "upgrade/backup/BackupStore.h"
#include "upgrade/backup/Sha256.h"
#include "upgrade/run/RunData.h"
#include "upgrade/run/RunReporter.h"

namespace upgrade {
namespace {

constexpr const char16_t* kRecord = u"CFWUpgradeDataCDMA7627Module::BackupRecord";
constexpr const char16_t* kRescue = u"CFWUpgradeDataCDMA7627Module::RescueCard";

std::u16string Wide(const std::string& text) { return platform::Utf8ToWide(text); }

}  // namespace

bool BackupKeeper::SaveRecord() {
    if (!active_) return true;
    std::string error;
    if (WriteBackupRecord(recordPath_, record_, error)) {
        NotePendingRecord(record_.esn, AbsolutePath(recordPath_), record_.RestorePending());
        return true;
    }
    FW_TRACE(kRecord, u"The backup record %s could not be written: %s", recordPath_.c_str(), Wide(error).c_str());
    return false;
}

void BackupKeeper::RecordFullDownload(FullDownloadReason reason) {
    if (record_.fullDownload != FullDownloadReason::None) return;
    record_.fullDownload = reason;
    (void)SaveRecord();   // traced; the reason is a note, the run does not depend on it
}

bool BackupKeeper::FindPendingBackup(const RunPlan& plan, bool esnRead, uint32_t esn, BackupRecord& pending) {
    const bool chosen = plan.RestoresChosenBackup();
    const std::u16string path = chosen ? JoinPath(plan.chosenBackup, kBackupRecordName) : recordPath_;
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

bool BackupKeeper::DescribeBackup(uint32_t esn, const std::u16string& nvPath, BackupRecord& out) {
    out = BackupRecord{};
    out.esn = esn;
    out.version = data_.softwareVersion;
    out.time = RecordTimeNow();
    out.nvFile = AbsolutePath(nvPath);
    out.wifiSaved = data_.backup.wifiSaved;
    std::memcpy(out.wifi.data(), data_.backup.wifiAddress, out.wifi.size());
    out.lockFilesSaved = data_.backup.lockFilesSaved;
    if (out.lockFilesSaved) {
        out.lockFile = AbsolutePath(data_.lockBackupPath);
        for (const LockFileEntry& entry : data_.backup.lockFiles) out.lockFiles.push_back({entry.path, entry.size});
    }
    out.fullDownload = data_.fullDownload ? FullDownloadReason::Q7k : FullDownloadReason::None;
    const bool digested = Sha256OfFile(out.nvFile, out.nvSha256) &&
                          (!out.lockFilesSaved || Sha256OfFile(out.lockFile, out.lockSha256));
    if (!digested) FW_TRACE(kRecord, u"The backup files of %s cannot be read back", out.nvFile.c_str());
    return digested;
}

bool BackupKeeper::RecordFreshBackup(const BackupRecord& fresh) {
    record_ = fresh;
    active_ = true;
    if (!SaveRecord()) return false;
    std::string error;
    if (KeepBackup(record_, keptBackup_, error)) return true;
    // The card leaves its firmware only with its data durable in two places.
    FW_TRACE(kRecord, u"The backup could not be kept: %s; the card is left as it is", Wide(error).c_str());
    return false;
}

bool BackupKeeper::AdoptPendingBackup(const RunPlan& plan, const BackupRecord& pending, BackupRecord readNow) {
    readNow.readWhilePending = pending.time;
    std::string error;
    if (KeepBackup(readNow, keptReadNow_, error)) {
        // Verified copies are kept; a file left here is replaced by the next backup.
        (void)platform::RemoveFile(readNow.nvFile);
        if (readNow.lockFilesSaved) (void)platform::RemoveFile(readNow.lockFile);
    } else {
        FW_TRACE(kRecord, u"What the card holds now could not be kept (left in %s): %s", readNow.nvFile.c_str(),
                 Wide(error).c_str());
    }
    if (!KeepBackup(pending, keptBackup_, error))
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
    data_.fullDownload = true;
    return true;
}

void BackupKeeper::TakeDataOf(const BackupRecord& record) {
    data_.channelNvPath = record.nvFile;
    data_.lockBackupPath = record.lockFile;
    data_.backup.wifiSaved = record.wifiSaved;
    std::copy(record.wifi.begin(), record.wifi.end(), data_.backup.wifiAddress);
    data_.backup.lockFilesSaved = record.lockFilesSaved;
    data_.backup.lockFiles.clear();
    for (const RecordedLockFile& entry : record.lockFiles) data_.backup.lockFiles.push_back({entry.path, entry.size});
}

void BackupKeeper::AdoptAsRunRecord(const BackupRecord& backup) {
    record_ = backup;
    record_.restored = false;
    if (record_.fullDownload == FullDownloadReason::None) record_.fullDownload = FullDownloadReason::Rescue;
    active_ = true;
    restoringPending_ = true;
    TakeDataOf(backup);
}

bool BackupKeeper::TakeRescueBackup(const RunPlan& plan) {
    const bool chosen = plan.RestoresChosenBackup();
    const std::u16string path = chosen ? JoinPath(plan.chosenBackup, kBackupRecordName) : recordPath_;
    BackupRecord record;
    std::string error;
    const RecordRead read = ReadBackupRecord(path, record, error);
    if (read != RecordRead::Read || !BackupFilesMatch(record, error)) {
        FW_TRACE(kRescue, u"No backup of the card's data to restore (%s): a rescue does not wipe a card without one",
                 Wide(read == RecordRead::Missing ? "there is no " + platform::WideToUtf8(path) : error).c_str());
        reporter_.NoteFailure(FailureReason::NoBackup);
        return false;
    }
    FW_TRACE(kRescue, u"Restore the backup of %s (ESN %s, software %s): %s", Wide(record.time).c_str(),
             Wide(EsnText(record.esn)).c_str(), Wide(record.version).c_str(),
             platform::RemoveFileSpec(record.nvFile).c_str());
    std::string keptError;
    if (!KeepBackup(record, keptBackup_, keptError))
        FW_TRACE(kRescue, u"The backup could not be kept: %s", Wide(keptError).c_str());
    AdoptAsRunRecord(record);
    record_.leftFirmware = true;
    return SaveRecord();
}

bool BackupKeeper::OnlyNotedPendingRecord(const std::u16string& besidePath, BackupRecord& pending,
                                           std::u16string& path) {
    size_t usable = 0;
    for (uint32_t esn : CardsWithPendingNotes()) {
        BackupRecord noted;
        std::u16string notedPath;
        std::string error;
        if (FindNotedPendingRecord(esn, besidePath, noted, notedPath, error) != NotedPending::Usable) continue;
        if (++usable > 1) break;
        pending = noted;
        path = notedPath;
    }
    if (usable > 1)
        FW_TRACE(kRescue, u"Several cards have a restore pending on this computer: which one is on this port is not known");
    return usable == 1;
}

void BackupKeeper::Clear() {
    recordPath_.clear();
    record_ = BackupRecord{};
    active_ = false;
    restoringPending_ = false;
    keptBackup_.clear();
}

void BackupKeeper::TakeKeptBackup(const BackupRecord& record, const std::u16string& keptFolder) {
    record_ = record;
    active_ = record.RestorePending();
    recordPath_ = JoinPath(keptFolder, kBackupRecordName);
    TakeDataOf(record);
    keptBackup_ = keptFolder;
}

}  // namespace upgrade

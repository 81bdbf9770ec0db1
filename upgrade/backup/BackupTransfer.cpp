#include "upgrade/backup/BackupTransfer.h"

#include <vector>

#include "platform/Platform.h"
#include "upgrade/backup/BackupArchive.h"
#include "upgrade/backup/BackupSafeFile.h"
#include "upgrade/backup/BackupStore.h"
#include "upgrade/backup/NvBackupTable.h"

namespace upgrade {
namespace {

std::string Narrow(const std::u16string& text) { return platform::WideToUtf8(text); }

bool ReadKept(const std::u16string& folder, BackupRecord& record, std::string& error) {
    const std::u16string path = JoinPath(folder, kBackupRecordName);
    switch (ReadBackupRecord(path, record, error)) {
        case RecordRead::Missing: error = Narrow(folder) + " holds no backup record"; return false;
        case RecordRead::Refused: error = Narrow(path) + " is refused: " + error; return false;
        case RecordRead::Read: break;
    }
    return BackupFilesMatch(record, error);
}

bool SameBackup(const BackupRecord& a, const BackupRecord& b) {
    return a.SameDataAs(b) && a.version == b.version && a.readWhilePending == b.readWhilePending;
}

bool WriteKeptFiles(const std::u16string& folder, const BackupArchive& archive, std::string& error) {
    if (!WriteFileReplacing(JoinPath(folder, kKeptNvName), archive.nvTable, error)) return false;
    if (archive.record.lockFilesSaved && !WriteFileReplacing(JoinPath(folder, kKeptLockName), archive.lockBackup, error))
        return false;
    // The record last: a folder without one is an interrupted copy.
    return WriteBackupRecord(JoinPath(folder, kBackupRecordName), archive.record, error);
}

}  // namespace

bool ExportKeptBackup(const std::u16string& folder, const std::u16string& archive, std::string& error) {
    BackupRecord record;
    if (!ReadKept(folder, record, error)) return false;
    std::vector<uint8_t> nv, lock;
    if (!ReadWholeFile(record.nvFile, nv, nvtable::kTableSize) ||
        (record.lockFilesSaved && !ReadWholeFile(record.lockFile, lock, kMaxArchiveLockBytes))) {
        error = "cannot read the files of the backup in " + Narrow(folder);
        return false;
    }
    if (platform::PathExists(archive)) {
        error = Narrow(archive) + " already exists: an archive is never written over another file";
        return false;
    }
    const std::u16string parent = platform::RemoveFileSpec(AbsolutePath(archive));
    if (!parent.empty() && !platform::PathExists(parent) && !platform::CreateDurableFolders(parent)) {
        error = "cannot create the folder " + Narrow(parent);
        return false;
    }
    return WriteFileReplacing(archive, EncodeBackupArchive(record, nv, lock), error);
}

ImportResult ImportBackupArchive(const std::u16string& archive, std::u16string& folder, std::string& error) {
    std::vector<uint8_t> bytes;
    if (!platform::PathExists(archive) || !ReadWholeFile(archive, bytes, kMaxArchiveBytes + 1)) {
        error = "cannot read " + Narrow(archive) + " (missing, not a regular file, or larger than any archive)";
        return ImportResult::Refused;
    }
    BackupArchive content;
    std::string why;
    if (!ParseBackupArchive(bytes, content, why)) {
        error = Narrow(archive) + " is refused: " + why;
        return ImportResult::Refused;
    }
    std::u16string differing;
    for (const KeptBackup& kept : ListKeptBackups(content.record.esn)) {
        if (kept.record.time != content.record.time) continue;
        std::string mismatch;
        if (!SameBackup(kept.record, content.record)) {
            differing = kept.folder;
        } else if (BackupFilesMatch(kept.record, mismatch)) {
            folder = kept.folder;
            return ImportResult::AlreadyKept;
        }
        // A kept copy that no longer matches is left as it is; the good one goes beside it.
    }
    if (!differing.empty()) {
        error = "a different backup of the card with ESN " + EsnText(content.record.esn) + " from " +
                content.record.time + " is already kept in " + Narrow(differing) + "; nothing was added";
        return ImportResult::Refused;
    }
    if (!MakeKeptFolder(content.record.esn, content.record.time, folder, error)) return ImportResult::Refused;
    return WriteKeptFiles(folder, content, error) ? ImportResult::Added : ImportResult::Refused;
}

}  // namespace upgrade

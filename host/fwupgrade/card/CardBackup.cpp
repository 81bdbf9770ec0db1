#include "host/fwupgrade/card/CardBackup.h"

#include <sys/stat.h>

#include "platform/Platform.h"
#include "upgrade/backup/BackupStore.h"

namespace fwupgrade {

namespace {

std::string Narrow(const std::u16string& text) { return platform::WideToUtf8(text); }

bool ReadRecord(const std::u16string& path, upgrade::BackupRecord& record) {
    std::string error;
    return upgrade::ReadBackupRecord(path, record, error) == upgrade::RecordRead::Read;
}

}  // namespace

std::optional<RunBackup> BackupOfRun(const std::string& packageFolder, std::time_t since) {
    const std::string path = packageFolder + "/" + Narrow(upgrade::kBackupRecordName);
    struct stat info {};
    RunBackup backup;
    if (::stat(path.c_str(), &info) != 0 || info.st_mtime < since || !ReadRecord(platform::Utf8ToWide(path), backup.record))
        return std::nullopt;
    backup.keptFolder = KeptFolderOf(backup.record);
    return backup;
}

std::string KeptFolderOf(const upgrade::BackupRecord& record) {
    const std::vector<upgrade::KeptBackup> kept = upgrade::ListKeptBackups(record.esn);
    for (auto it = kept.rbegin(); it != kept.rend(); ++it)
        if (it->record.readWhilePending.empty() && it->record.SameDataAs(record)) return Narrow(it->folder);
    return {};
}

std::string DefaultRestoreSource(uint32_t esn) {
    const std::u16string pending = upgrade::PendingRecordOf(esn);
    upgrade::BackupRecord record;
    std::string error;
    if (!pending.empty() && ReadRecord(pending, record) && record.RestorePending() && record.esn == esn &&
        upgrade::BackupFilesMatch(record, error))
        return Narrow(platform::RemoveFileSpec(pending));
    const std::vector<upgrade::KeptBackup> kept = upgrade::ListKeptBackups(esn);
    for (auto it = kept.rbegin(); it != kept.rend(); ++it)
        if (it->record.readWhilePending.empty()) return Narrow(it->folder);
    return {};
}

}  // namespace fwupgrade

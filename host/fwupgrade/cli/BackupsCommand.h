// `backups`: the kept backups of this user, one line each; `backups export`
// writes one to an archive file, `backups import` takes one into this
// machine's kept backups. `restore --from` and `rescue --from` take an
// archive as well as a folder: the archive is imported first.
#pragma once

#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "host/fwupgrade/cli/CardCommands.h"
#include "upgrade/backup/BackupRecord.h"

namespace fwupgrade {

enum class KeptState { Own, ReadWhilePending, Restored };

struct KeptBackupRow {
    std::string esn;
    std::string time;
    std::string version;
    std::string folder;
    KeptState state = KeptState::Own;
};

// "own", "read while a restore was pending", "restored".
const char* KeptStateWords(KeptState state);

// Every kept backup, oldest first per card. A backup is "restored" when an
// entry of the run history (a restore, rescue or upgrade that ended well)
// names it as its kept backup; a read taken while a restore was pending says
// so whatever the history says.
std::vector<KeptBackupRow> KeptBackupRows(const std::vector<nlohmann::json>& history);

int RunBackupsList(bool json);
// which: a kept backup's folder, or <ESN>/<time> of a kept backup.
int RunBackupsExport(const std::string& which, const std::string& archive);
int RunBackupsImport(const std::string& archive);

// A --from of restore or rescue: a folder stays as it is; an archive file is
// imported into the kept backups and from becomes the kept folder. False,
// with the reason, when the archive is refused.
bool TakeBackupSource(std::string& from, std::string& note, std::string& error);

// After a backup kept in keptFolder: true when what it read was kept apart
// because the card's restore is pending, with the pending backup's time
// ("unknown" when its record is gone) and folder.
bool ReadApartFromPending(const std::string& keptFolder, uint32_t esn, std::string& pendingTime,
                          std::string& pendingFolder);

// What `backup` says of a card whose restore is pending: that it is, where
// the card's data is, and the command that finishes the restore.
std::string PendingRestoreWords(const CardDataOptions& card, const std::string& pendingTime,
                                const std::string& pendingFolder);

}  // namespace fwupgrade

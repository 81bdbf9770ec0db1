// What the program tells a user about a card's saved data: the backup record
// the module wrote beside channel.nvm, and the kept backup that holds the
// same data in the per-user data folder.
#pragma once

#include <ctime>
#include <optional>
#include <string>

#include "upgrade/backup/BackupRecord.h"

namespace fwupgrade {

struct RunBackup {
    upgrade::BackupRecord record;
    std::string keptFolder;   // empty when no kept backup holds this data
};

// The record in the package folder when it was written since `since` (so
// by this run), with its kept backup.
std::optional<RunBackup> BackupOfRun(const std::string& packageFolder, std::time_t since);

// The newest kept backup of the card that holds exactly this record's data
// (never a read taken while a restore was pending); empty when none.
std::string KeptFolderOf(const upgrade::BackupRecord& record);

// The backup `restore` takes for a card by default: the record of a restore
// still pending, else the newest kept backup that is not a read taken while a
// restore was pending. Empty when the card has none.
std::string DefaultRestoreSource(uint32_t esn);

}  // namespace fwupgrade

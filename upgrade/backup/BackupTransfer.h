// A kept backup carried between machines as one archive file
// (upgrade/backup/BackupArchive.h): written from a kept folder, and taken into this
// machine's kept backups after every check of the archive reader.
#pragma once

#include <string>

namespace upgrade {

// Writes the kept backup in folder to a new archive file. The backup's files
// must match their record's digests; an existing file is never written over.
[[nodiscard]] bool ExportKeptBackup(const std::u16string& folder, const std::u16string& archive, std::string& error);

enum class ImportResult { Added, AlreadyKept, Refused };

// Adds the backup an archive holds to the kept backups of its card, in a
// new folder written file by file (each synced and renamed into place, the
// record last). The same backup already kept under its ESN and time is not
// added again (AlreadyKept, folder names it); a different one under the
// same ESN and time is refused, as is anything the archive reader refuses.
ImportResult ImportBackupArchive(const std::u16string& archive, std::u16string& folder, std::string& error);

}  // namespace upgrade

// One kept backup as a single file, to carry it to another machine: a magic
// line, then for each member a line "file <name> <length>" and exactly that
// many bytes, then "end <SHA-256 of every byte before this line>".
//
//     fwupgrade-backup-archive 1
//     file backup-record.txt 612
//     <612 bytes>
//     file channel.nvm 816000
//     <816000 bytes>
//     file VEKLock_1 3100          (only when the record saved lock files)
//     <3100 bytes>
//     end <64 lower-case hex digits>
//
// Encoding and parsing are pure. The parser is the gate for bytes from
// anywhere: it takes only the three members a kept backup holds, each once,
// under its plain name, within its size, and only when the whole-archive
// digest, the record, and the record's digests and lengths of the two data
// files all agree. What it refuses, it refuses whole, with one line that
// says why.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "upgrade/backup/BackupRecord.h"

namespace upgrade {

// The most an archive may hold: the record, a full NV table and a lock
// backup well above any card's lock files.
constexpr size_t kMaxArchiveLockBytes = 16u << 20;
constexpr size_t kMaxArchiveBytes = 24u << 20;

struct BackupArchive {
    BackupRecord record;               // its files named channel.nvm and VEKLock_1
    std::vector<uint8_t> nvTable;      // channel.nvm
    std::vector<uint8_t> lockBackup;   // VEKLock_1; empty when no lock files were saved
};

// The kept description of the record's data (how far a run got is left
// out), its files named by their names in a kept folder.
BackupRecord KeptDescription(const BackupRecord& record);

// The archive of a backup: the record is written as KeptDescription gives it.
std::vector<uint8_t> EncodeBackupArchive(const BackupRecord& record, std::span<const uint8_t> nvTable,
                                         std::span<const uint8_t> lockBackup);

// Fills out and returns true for a whole archive that passes every check;
// otherwise returns false with the reason in error and out left empty.
[[nodiscard]] bool ParseBackupArchive(std::span<const uint8_t> bytes, BackupArchive& out, std::string& error);

}  // namespace upgrade

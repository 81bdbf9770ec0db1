// The facts one operation on a card gathers and its parts share: what the
// card reported, where its backup files are, what the backup phase saved and
// what the restore gave back.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "upgrade/backup/BackupRecord.h"
#include "upgrade/run/CardState.h"

namespace upgrade {

// One lock file of the card's EFS: its absolute EFS path and its length.
struct LockFileEntry {
    std::u16string path;
    int32_t size = 0;
};

// What the backup phase saved for the restore phase of the same run.
struct BackupPhaseState {
    bool wifiSaved = false;
    uint8_t wifiAddress[6] = {};
    bool lockFilesSaved = false;
    bool lockFolderMissing = false;   // the card has no lock folder, so no lock files to lose
    std::vector<LockFileEntry> lockFiles;
};

// What the last NV restore gave back, item by item.
struct NvRestoreOutcome {
    std::vector<uint16_t> restored;
    std::vector<NvItemNotRestored> notRestored;
};

// Name of the lock backup file (in the current folder).
std::u16string LockBackupFileName();

struct RunData {
    // The card's factory test mode as read before the switch, which restores it.
    uint8_t ftmMode = 0;
    bool nv22Read = false;
    // The run writes every image with cefs, then resets and restores.
    bool fullDownload = false;
    bool isQ7 = false;
    // The software version text SelectPhoneType read ("" when unread).
    std::string softwareVersion;
    // The version the card reported when CheckPhoneInfo last identified it.
    std::string identifiedVersion;
    // The state the last probe found, and the card's ESN when it was read.
    CardState lastCardState = CardState::Absent;
    uint32_t cardEsn = 0;
    std::u16string channelNvPath;
    // Where the lock backup file is written and read: the current folder,
    // else the per-user folder, or the file of a backup being restored.
    std::u16string lockBackupPath = LockBackupFileName();
    BackupPhaseState backup;
    NvRestoreOutcome nvRestore;
    std::vector<RestoreResult> lockRestore;   // per entry of backup.lockFiles
    // Status word of the last NV backup or restore item.
    uint16_t nvStatus = 0;

    // Forgets what an earlier operation saved and restored.
    void ClearBackupData() {
        backup = BackupPhaseState{};
        nvRestore = NvRestoreOutcome{};
        lockRestore.clear();
        softwareVersion.clear();
        lockBackupPath = LockBackupFileName();
    }
};

}  // namespace upgrade

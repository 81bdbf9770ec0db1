// `backup` and `restore`: a card's own data saved alone, or written back, on
// a card that runs its firmware. Both run in the run session of `upgrade`
// (CardDataRun.h): log, history, signal watch; a stop signal asks the module
// to stop at its next safe point.
#pragma once

#include <cstdint>
#include <string>

#include <vector>

#include "host/fwupgrade/plugin/PluginOperations.h"
#include "upgrade/backup/BackupRecord.h"

namespace fwupgrade {

struct CardDataOptions {
    int32_t port = -1;        // --port N
    std::string device;       // --device PATH
    std::string usbPort;      // --usb-port PORT
    std::string folder;       // backup: --to DIR; restore: --from DIR
    bool force = false;       // restore: a backup of another ESN
    std::string logFile;
    std::string commandLine;
    std::string pluginPath;   // --plugin: instead of the registered plug-in
};

int RunBackupCommand(const CardDataOptions& options);
int RunRestoreCommand(const CardDataOptions& options);

// What a restore of `source` gave back, from the restore's outcome and
// losses, as `restore` prints it: one line each for the NV items, the Wi-Fi
// address and the lock files.
std::string RestoreReport(const upgrade::BackupRecord& source, const CardOutcome& outcome,
                          const std::vector<CardLoss>& losses);
// Everything the backup held went back (NV items the card keeps inactive or
// read-only are skipped by design and do not count).
bool EverythingRestored(const CardOutcome& outcome, const std::vector<CardLoss>& losses);

}  // namespace fwupgrade

// A run keeps two durable copies of the card's data before the card leaves
// its firmware: the backup beside the package (or in the run folder) and the
// kept copy in the data folder. When the run stops because one of them
// cannot be written, the summary names that folder and why, and says that
// the card was not changed.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "host/fwupgrade/plugin/PluginOperations.h"
#include "host/fwupgrade/report/RunResult.h"

namespace fwupgrade {

// The NV table (6,000 records of 136 bytes) and room for the lock files.
constexpr uint64_t kBackupCopyBytes = 1024 * 1024;

// The folders the two copies go to: the one of channel.nvm, then the kept
// backups of the card (of every card while its ESN is unknown).
std::vector<std::string> BackupCopyFolders(const std::string& channelNvm, const CardOutcome& outcome);

// True, with `result` completed, when the run stopped in its backup step
// before the switch on a file: the engine said so, or one of the folders
// cannot take a copy now.
bool DescribeBackupCopyFailure(const CardOutcome& outcome, bool pastSwitch, RunResult& result);

}  // namespace fwupgrade

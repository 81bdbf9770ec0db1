#include "host/fwupgrade/BackupCopyFailure.h"

#include "host/fwupgrade/WriteProbe.h"
#include "platform/Platform.h"
#include "upgrade/BackupRecord.h"
#include "upgrade/BackupStore.h"

namespace fwupgrade {

std::vector<std::string> BackupCopyFolders(const std::string& channelNvm, const CardOutcome& outcome) {
    std::vector<std::string> folders{channelNvm.substr(0, channelNvm.rfind('/'))};
    const std::string kept = platform::WideToUtf8(upgrade::KeptBackupsRoot());
    if (!kept.empty()) folders.push_back(outcome.esnKnown ? kept + "/" + upgrade::EsnText(outcome.esn) : kept);
    return folders;
}

bool DescribeBackupCopyFailure(const CardOutcome& outcome, bool pastSwitch, RunResult& result) {
    if (pastSwitch || !outcome.reported || outcome.reason != FWUP_REASON_FILE_SYSTEM ||
        outcome.failedStep != FWUP_STEP_BACKUP)
        return false;
    result.cardUnchanged = true;
    result.rescueCommand.clear();
    result.headline = "Stopped before the card left its firmware: a copy of its backup could not be written. "
                      "The card is unchanged.";
    for (const std::string& folder : BackupCopyFolders(result.channelNvm, outcome)) {
        const std::optional<WriteProblem> problem = ProbeFolderWrite(folder, kBackupCopyBytes);
        if (!problem) continue;
        result.writeFolder = problem->folder;
        result.writeFailure = WriteFailureName(problem->failure);
        result.writeErrno = problem->error;
        result.reasonLine = "cannot write a copy of the backup into " + problem->folder + ": " + WriteProblemDetail(*problem);
        result.headline = "Stopped before the card left its firmware: " + problem->folder + " cannot take a copy of "
                          "its backup (" + WriteProblemWords(*problem) + "). The card is unchanged.";
        return true;
    }
    return true;
}

}  // namespace fwupgrade

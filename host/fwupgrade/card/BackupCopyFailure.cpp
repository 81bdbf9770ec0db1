#include "host/fwupgrade/card/BackupCopyFailure.h"

#include "host/fwupgrade/card/WriteProbe.h"
#include "platform/Platform.h"
#include "upgrade/backup/BackupRecord.h"
#include "upgrade/backup/BackupStore.h"

namespace fwupgrade {

std::vector<std::string> BackupCopyFolders(const std::string& channelNvm, const CardOutcome& outcome) {
    std::vector<std::string> folders{channelNvm.substr(0, channelNvm.rfind('/'))};
    const std::string kept = platform::WideToUtf8(upgrade::KeptBackupsRoot());
    if (!kept.empty()) folders.push_back(outcome.esnKnown ? kept + "/" + upgrade::EsnText(outcome.esn) : kept);
    return folders;
}

bool DescribeBackupCopyFailure(const CardOutcome& outcome, bool pastSwitch, RunResult& result) {
    if (pastSwitch || !outcome.reported || outcome.failedStep != FWUP_STEP_BACKUP) return false;
    std::optional<WriteProblem> problem;
    for (const std::string& folder : BackupCopyFolders(result.channelNvm, outcome)) {
        problem = ProbeFolderWrite(folder, kBackupCopyBytes);
        if (problem) break;
    }
    // The engine may word a file it could not create as the card's refusal:
    // a folder that cannot take a copy now tells which it was.
    if (!problem && outcome.reason != FWUP_REASON_FILE_SYSTEM) return false;
    result.cardUnchanged = true;
    result.rescueCommand.clear();
    if (!problem) {
        result.headline = "Stopped before the card left its firmware: a copy of its backup could not be written. "
                          "The card is unchanged.";
        return true;
    }
    result.writeFolder = problem->folder;
    result.writeFailure = WriteFailureName(problem->failure);
    result.writeErrno = problem->error;
    result.reasonLine = "cannot write a copy of the backup into " + problem->folder + ": " + WriteProblemDetail(*problem);
    result.headline = "Stopped before the card left its firmware: " + problem->folder + " cannot take a copy of its " +
                      "backup (" + WriteProblemWords(*problem) + "). The card is unchanged.";
    return true;
}

}  // namespace fwupgrade

#include "host/fwupgrade/cli/CardCommands.h"

#include <unistd.h>

#include "host/fwupgrade/cli/BackupsCommand.h"
#include "host/fwupgrade/cli/CardDataRun.h"
#include "host/fwupgrade/card/CardBackup.h"
#include "host/fwupgrade/report/EventWords.h"
#include "host/fwupgrade/run/PackageView.h"
#include "host/fwupgrade/card/RescueWaysOn.h"
#include "host/fwupgrade/plugin/PluginOperations.h"
#include "platform/Platform.h"
#include "upgrade/backup/BackupRecord.h"
#include "upgrade/backup/BackupStore.h"

namespace fwupgrade {

namespace {

std::string Narrow(const std::u16string& text) { return platform::WideToUtf8(text); }
std::u16string Wide(const std::string& text) { return platform::Utf8ToWide(text); }

std::string WaysOnText(const std::vector<std::string>& ways) {
    std::string text = ways.empty() ? "" : "  Ways on:\n";
    for (const std::string& way : ways) text += "    " + way + "\n";
    return text;
}

// The engine stopped at its safe point, as a stop signal asked: nothing went
// back, and the backup is where it was.
int StoppedBeforeWriting(CardDataRun& run, const std::string& from) {
    RunResult& result = run.Result();
    result.exitStatus = kExitInterrupted;
    result.headline = "Stopped by " + run.Session().StopSignalName() +
                      " before anything was written back: the card's data is as it was.";
    result.keptBackup = from;
    result.restoreCommand = run.Session().RestoreCommand(from);
    return run.Finish("  kept backup: " + from + " (still there)\n");
}

}  // namespace

std::string RestoreReport(const upgrade::BackupRecord& source, const CardOutcome& outcome,
                          const std::vector<CardLoss>& losses) {
    std::string nv = std::to_string(outcome.nvItemsRestored) + " written back";
    std::string skipped, missing, wifi = "not in the backup", locks = "not in the backup";
    bool wifiLost = false;
    std::string locksNotBack;
    size_t locksLost = 0;
    for (const CardLoss& loss : losses) {
        if (loss.kind == FWUP_LOSS_NV_ITEM) {
            std::string& list = loss.reason == FWUP_LOSS_KEPT_BY_CARD ? skipped : missing;
            list += (list.empty() ? "" : ", ") + std::to_string(loss.nvItem) + " (" + NvLossWords(loss) + ")";
        } else if (loss.kind == FWUP_LOSS_WIFI_ADDRESS) {
            wifiLost = true;
        } else {
            ++locksLost;
            locksNotBack += (locksNotBack.empty() ? "" : ", ") + loss.lockFile +
                            (loss.reason == FWUP_LOSS_NOT_TRIED ? " (not tried)" : " (failed)");
        }
    }
    if (!missing.empty()) nv += "; NOT written back: " + missing;
    if (!skipped.empty()) nv += "; skipped by the card: " + skipped;
    if (outcome.result != 0 && outcome.nvItemsRestored == 0 && missing.empty())
        nv = "NOT written back (the restore did not start)";
    if (source.wifiSaved) wifi = wifiLost ? "NOT written back" : "written back";
    if (source.lockFilesSaved) {
        locks = std::to_string(source.lockFiles.size() - locksLost) + " of " + std::to_string(source.lockFiles.size()) +
                " written back";
        if (!locksNotBack.empty()) locks += "; NOT written back: " + locksNotBack;
    }
    return "  NV items:    " + nv + "\n  Wi-Fi:       " + wifi + "\n  lock files:  " + locks + "\n";
}

bool EverythingRestored(const CardOutcome& outcome, const std::vector<CardLoss>& losses) {
    if (outcome.result != 0) return false;
    for (const CardLoss& loss : losses)
        if (loss.kind != FWUP_LOSS_NV_ITEM || loss.reason != FWUP_LOSS_KEPT_BY_CARD) return false;
    return true;
}

int RunBackupCommand(const CardDataOptions& options) {
    CardDataRun run(options,
                    "the backup stops at its next safe point, before it reads the card's data (once it reads, it "
                    "finishes; the card is unchanged either way). Send it again within 5 s to stop at once.",
                    "while the card's data was being read: no backup was kept. The card's data is unchanged; its "
                    "lock files may stay open to writing until the card restarts.");
    if (!run.Start()) return run.Finish("");
    // Without --to, the files are put together in a folder of their own
    // and, once kept, that folder's copies are removed.
    const bool staged = options.folder.empty();
    const std::string dataFolder = Narrow(platform::UserDataFolder());
    const std::string folder = staged ? dataFolder + "/staging-" + upgrade::RecordTimeNow() + "-" + std::to_string(::getpid())
                                      : AbsolutePath(options.folder);
    if (!platform::PathExists(Wide(folder)) && !platform::CreateDirectory(Wide(folder))) {
        run.Fail(kExitOther, "Cannot create the folder " + folder + ".");
        return run.Finish("");
    }
    PluginOperations& operations = run.Operations();
    const int32_t code = operations.Backup(folder);
    if (code != 0 && operations.Outcome().reason == FWUP_REASON_INTERRUPTED) {
        if (staged) ::rmdir(folder.c_str());
        run.Fail(kExitInterrupted, "Stopped by " + run.Session().StopSignalName() +
                                       " before the card's data was read: no backup was taken; the card is unchanged.");
        return run.Finish("");
    }
    if (code != 0) {
        run.Fail(kExitFailed, "The card's data could not be backed up (" + ReasonWords(operations.Outcome().reason) +
                                  "); the card is unchanged.");
        run.DescribeCardOutsideFirmware("its data cannot be backed up");
        return run.Finish("");
    }
    const CardOutcome& outcome = operations.Outcome();
    const bool pending = !outcome.keptReadNow.empty();
    const std::string kept = pending ? outcome.keptReadNow : outcome.keptBackup;
    run.Facts().esn = upgrade::EsnText(outcome.esn);
    run.Facts().versionBefore = outcome.softwareVersion;
    run.Facts().keptBackup = kept;
    run.Result().keptBackup = kept;
    if (kept.empty()) {
        run.Fail(kExitFailed, "The card's data was read into " + folder + " but could not be kept (see the log).");
        return run.Finish("");
    }
    if (staged) {
        for (const char16_t* name : {u"channel.nvm", u"VEKLock_1", upgrade::kBackupRecordName})
            (void)platform::RemoveFile(upgrade::JoinPath(Wide(folder), name));   // whatever the staging left
        ::rmdir(folder.c_str());
    }
    run.Result().headline = "The card's data is backed up (ESN " + run.Facts().esn + ", software " +
                            (outcome.softwareVersion.empty() ? "unknown" : outcome.softwareVersion) + ").";
    std::string details = "  kept backup: " + kept + "\n";
    std::string pendingTime, pendingFolder;
    if (ReadApartFromPending(kept, outcome.esn, pendingTime, pendingFolder)) {
        run.Fail(kExitFailed, "Not backed up as the card's own data: a restore is pending (ESN " + run.Facts().esn + ").");
        details = "  kept apart:  " + kept + "\n" + PendingRestoreWords(options, pendingTime, pendingFolder);
    }
    return run.Finish(details);
}

int RunRestoreCommand(const CardDataOptions& options) {
    CardDataRun run(options,
                    "the restore stops at its next safe point, before it writes to the card (once it writes, it "
                    "finishes). Send it again within 5 s to stop at once; the card's data may then be only partly back.",
                    "while the card's data was being written back: it may be only partly back.");
    if (!run.Start()) return run.Finish("");
    std::string from = options.folder.empty() ? std::string() : AbsolutePath(options.folder);
    PluginOperations& operations = run.Operations();
    uint32_t cardEsn = 0;
    const int32_t state = operations.Probe(cardEsn);
    if (state != FWUP_CARD_FIRMWARE) {
        run.Fail(kExitFailed, "The card is " + CardStateWords(state) +
                                  ": a backup goes back only to a card that runs its firmware.");
        return run.Finish("");
    }
    const std::string esn = upgrade::EsnText(cardEsn);
    run.Facts().esn = esn;
    if (from.empty()) from = DefaultRestoreSource(cardEsn);
    if (from.empty()) {
        run.Fail(kExitFailed, "No kept backup of the card with ESN " + esn + ".");
        return run.Finish("");
    }
    upgrade::BackupRecord source;
    std::string error;
    (void)upgrade::ReadBackupRecord(Wide(from + "/" + Narrow(upgrade::kBackupRecordName)), source, error);
    run.Facts().keptBackup = from;
    run.ShareFacts();
    // The module checks the backup against the card before it writes anything.
    const int32_t result = operations.Restore(from, options.force);
    const CardOutcome& outcome = operations.Outcome();
    if (result != 0 && outcome.reason == FWUP_REASON_INTERRUPTED) return StoppedBeforeWriting(run, from);
    run.Facts().keptBackup.clear();
    if (result != 0 && outcome.reason == FWUP_REASON_OTHER_CARD) {
        run.Fail(kExitFailed, "Nothing was written back (" + ReasonWords(outcome.reason) + "). " +
                                  OtherCardWords(from, cardEsn) + " Give --force to write it to this card anyway.");
        return run.Finish(
            WaysOnText(WaysOn({run.Session().RestoreCommand(""), from, false}, RescuableBackupsOf(cardEsn))));
    }
    run.Facts().keptBackup = from;
    run.Result().keptBackup = from;
    if (result != 0 && outcome.failedStep != FWUP_STEP_RESTORE) {
        run.Fail(kExitFailed, "Nothing was written back from " + from + " (" + ReasonWords(outcome.reason) + ").");
        return run.Finish("");
    }
    const bool complete = EverythingRestored(outcome, operations.Losses());
    run.Result().exitStatus = complete ? kExitOk : kExitFailed;
    run.Result().headline = complete ? "The backup went back to the card." : "Not everything went back to the card:";
    return run.Finish(RestoreReport(source, outcome, operations.Losses()) + "  from:        " + from + "\n");
}

}  // namespace fwupgrade

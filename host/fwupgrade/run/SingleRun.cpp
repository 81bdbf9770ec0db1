#include "host/fwupgrade/run/SingleRun.h"

#include <cstdlib>
#include <map>
#include <optional>

#include "host/fwupgrade/card/BackupCopyFailure.h"
#include "host/fwupgrade/card/CardAim.h"
#include "host/fwupgrade/card/CardBackup.h"
#include "host/fwupgrade/plugin/CardSupport.h"
#include "host/fwupgrade/card/DeviceAccess.h"
#include "host/fwupgrade/report/EventWords.h"
#include "host/fwupgrade/report/FailureReport.h"
#include "host/fwupgrade/report/History.h"
#include "host/fwupgrade/plugin/LinkedModule.h"
#include "host/fwupgrade/card/ModemManager.h"
#include "host/fwupgrade/package/PackageCheck.h"
#include "host/fwupgrade/package/PackageDigest.h"
#include "host/fwupgrade/run/PackageView.h"
#include "host/fwupgrade/plugin/PluginHost.h"
#include "host/fwupgrade/plugin/PluginOperations.h"
#include "host/fwupgrade/card/RescueWaysOn.h"
#include "host/fwupgrade/run/RunFolder.h"
#include "host/fwupgrade/run/RunLock.h"
#include "host/fwupgrade/run/RunPlace.h"
#include "host/fwupgrade/report/RunRecord.h"
#include "host/fwupgrade/run/RunSession.h"
#include "host/fwupgrade/run/SignalWatch.h"
#include "upgrade/backup/BackupStore.h"

namespace fwupgrade {

namespace {

constexpr int32_t kPackageRejectedCode = -13313;

RunResult BaseResult(const SingleRunRequest& request) {
    RunResult result;
    result.port = request.port;
    const bool named = !request.device.empty() || !request.usbPort.empty();
    result.device = named ? CardName{request.device, request.usbPort}.Label() : "COM" + std::to_string(request.port);
    const std::string package = AbsolutePath(request.package);
    result.channelNvm = package + "/" + kChannelNvFile;
    result.lockBackup = AbsolutePath(kLockBackupFile);
    result.folder = AbsolutePath(".");
    return result;
}

RunResult NotStarted(const RunSession& session, int exitStatus, const std::string& headline) {
    RunResult result = session.Base();
    result.exitStatus = exitStatus;
    result.headline = headline;
    return result;
}

// A card the module does not support: nothing was sent to it. The card in
// its boot downloader or flash programmer gets the command that takes it.
RunResult Unsupported(const RunSession& session, const std::string& refusal) {
    RunResult result = NotStarted(session, kExitUnsupported, refusal);
    if (const auto identity = CardIdentityNow(session.Base().port); identity && !CardModeOf(*identity).empty())
        result.rescueCommand = session.RescueCommand();
    return result;
}

// "recovery.img is missing", "system.img is not a regular file", ...
std::string ProblemWords(const PackageProblem& problem) {
    if (problem.file.empty()) return problem.text;
    const bool needsVerb = problem.text.rfind("missing", 0) == 0 || problem.text.rfind("not ", 0) == 0;
    return problem.file + (needsVerb ? " is " : " ") + problem.text;
}

// The checks of `check`, before the module is loaded: the module would block
// on a FIFO and stops at the first missing file.
bool PackageRejected(const RunSession& session, const std::string& package, RunResult& result, PackageReport& report) {
    report = CheckPackage(package);
    if (report.Accepted()) return false;
    result = NotStarted(session, kExitRejected, "");
    result.code = kPackageRejectedCode;
    for (const auto& problem : report.problems) {
        if (!problem.fatal) continue;
        if (result.headline.empty()) result.headline = "The package was rejected: " + ProblemWords(problem) + ".";
        result.reasonLine += (result.reasonLine.empty() ? "" : "; ") + ProblemWords(problem);
    }
    return true;
}

// A card that answered nothing while the run prepared is not looked at
// again: it would only stay silent through every probe once more. While a
// restore is pending on this computer, though, it may be a programmer an
// interrupted run left in the middle of a data block, which only the look
// wakes.
bool NeverAnswered(const CardOutcome& outcome) {
    if (!outcome.reported || outcome.reason != FWUP_REASON_NO_ANSWER || outcome.failedStep != FWUP_STEP_PREPARE)
        return false;
    // The run itself looked and found the card silent or gone.
    if (outcome.cardState == FWUP_CARD_SILENT || outcome.cardState == FWUP_CARD_ABSENT) return true;
    return outcome.cardState == FWUP_CARD_UNKNOWN && upgrade::CardsWithPendingNotes().empty();
}

// After a failure: where the card is now (asked again, else as the run
// last saw it), where its data is kept and how to bring it back, as the
// run's outcome says. A card that failed before the switch and still
// answers in its firmware is unchanged: nothing to bring back.
void DescribeCardAfterFailure(RunSession& session, PluginOperations* operations, const CardOutcome& outcome,
                              RunResult& result) {
    uint32_t esn = 0;
    int32_t state = operations == nullptr || NeverAnswered(outcome) ? FWUP_CARD_UNKNOWN : operations->Probe(esn);
    // A card that does not answer now was last seen where the run left it.
    const bool unheard = state == FWUP_CARD_UNKNOWN || state == FWUP_CARD_ABSENT || state == FWUP_CARD_SILENT;
    if (unheard && outcome.cardState != FWUP_CARD_UNKNOWN) state = outcome.cardState;
    if (state != FWUP_CARD_UNKNOWN) result.cardState = CardStateWords(state);
    if (!outcome.keptBackup.empty()) result.keptBackup = outcome.keptBackup;
    const bool outside = state == FWUP_CARD_BOOT_DOWNLOADER || state == FWUP_CARD_FLASH_PROGRAMMER;
    if (outcome.recovery == FWUP_RECOVERY_RESTORE && !outside) {
        result.restoreCommand = session.RestoreCommand(outcome.recoveryFrom);
    } else if (outcome.recovery == FWUP_RECOVERY_RESCUE || outside || session.PastSwitch()) {
        result.rescueCommand = session.RescueCommand();
    }
    if (!session.PastSwitch() && outside && outcome.recovery == FWUP_RECOVERY_NONE)
        result.headline = "The card is " + result.cardState +
                          ", not in its firmware: a run was interrupted there. The upgrade cannot start from there.";
}

// Makes the run's own folder, works in it and tells the user why; the
// module is handed it as its package.
bool EnterRunFolder(RunSession& session, WorkingFolder& working, const std::string& package, const Placement& placement,
                    std::string& error) {
    const std::string state = StateFolder();
    if (state.empty()) {
        error = "no state folder for a run folder (set XDG_STATE_HOME or HOME)";
        return false;
    }
    std::string folder;
    if (!MakeRunFolder(state + "/runs", RunFolderName(session.Started(), session.Base().device), package, folder, error) ||
        !working.MoveTo(folder, error))
        return false;
    session.UseRunFolder(folder);
    session.Notice("This run keeps the card's backups in a run folder of its own, " + folder + ": " + placement.why + ".");
    return true;
}

// A rescue of a card whose run had a run folder works in that folder, where
// the run left its lock backup.
bool EnterRescuedRunFolder(RunSession& session, WorkingFolder& working, const std::string& package, std::string& error) {
    if (RunFolderPackage(package).empty()) return true;
    if (!working.MoveTo(package, error)) return false;
    session.UseRunFolder(package);
    return true;
}

// A rescue refused before anything was written: why, in the card's terms,
// and the ways on in place of the command that was just refused.
void OfferWaysOn(const RunSession& session, const SingleRunRequest& request, const CardOutcome& outcome,
                 RunResult& result) {
    const bool refused = outcome.reason == FWUP_REASON_NO_BACKUP || outcome.reason == FWUP_REASON_OTHER_CARD;
    if (!outcome.reported || !refused || session.PastSwitch()) return;
    const std::string from = request.rescueFrom.empty() ? std::string() : AbsolutePath(request.rescueFrom);
    if (outcome.reason == FWUP_REASON_OTHER_CARD && outcome.esnKnown)
        if (const std::string words = OtherCardWords(from, outcome.esn); !words.empty())
            result.headline += " " + words + " Nothing was written to the card.";
    const std::optional<uint32_t> esn = outcome.esnKnown ? std::optional<uint32_t>(outcome.esn) : std::nullopt;
    result.waysOn = WaysOnFor({session.RescueCommand(), from, !request.rescueWithoutData}, esn, session.Base().device,
                              StableDevicePath(request.device));
    result.rescueCommand.clear();
}

// A rescue without data of a card outside its firmware restores nothing;
// a card in its firmware had its data saved and given back.
bool DataLeftOut(const SingleRunRequest& request, const CardOutcome& outcome) {
    return request.rescueWithoutData && outcome.nvItemsRestored == 0;
}

// The operation the request asks for; a rescue without data says first what it costs.
int32_t StartOperation(RunSession& session, PluginOperations& operations, const SingleRunRequest& request,
                       const std::string& package) {
    if (!request.rescue) return operations.Upgrade(package);
    if (!request.rescueWithoutData)
        return operations.Rescue(package, request.rescueFrom.empty() ? std::string() : AbsolutePath(request.rescueFrom));
    session.Notice("Rescue without the card's data: a card outside its firmware is wiped and flashed, and none of "
                   "its NV items, Wi-Fi address or lock files go back.");
    return operations.RescueWithoutData(package);
}

// Upgrade and rescue are card operations of the plug-in; their trace and
// progress come back through the log and display modules, their steps,
// losses and outcome as events.
int32_t RunThroughPlugin(RunSession& session, PluginOperations& operations, const SingleRunRequest& request,
                         const std::string& package) {
    operations.OnStep([&session](int32_t step) { session.OnStep(step); });
    operations.OnCard([&session](uint32_t esn, const std::string& version) { session.OnCard(esn, version); });
    const int32_t code = StartOperation(session, operations, request, package);
    for (const CardLoss& loss : operations.Losses()) session.OnLoss(loss);
    if (operations.Outcome().reported) session.OnOutcome(operations.Outcome());
    return code;
}

RunResult Upgrade(RunSession& session, const SingleRunRequest& request, const CardAim& aim) {
    const std::string package = request.package;
    WorkingFolder working;
    std::string error;
    if (request.rescue && !EnterRescuedRunFolder(session, working, package, error))
        return NotStarted(session, kExitOther, "Not started: " + error + ".");
    RunLock lock;
    Placement placement;
    const bool mayMove = !request.rescue && request.cardFolder.empty();
    if (!PlaceRun(lock, mayMove, package, session.Base().folder, placement, error))
        return NotStarted(session, kExitOther, "Not started: " + error + ".");
    // The log is emptied only once this run holds the folders.
    if (!session.OpenLog(error)) return NotStarted(session, kExitOther, error + ".");
    if (!aim.note.empty()) session.Notice(aim.note);
    const ModemManagerInhibition inhibition(request.usbPort, [&](const std::string& line) { session.Notice(line); });
    RunResult rejected;
    PackageReport report;
    if (PackageRejected(session, package, rejected, report)) return rejected;
    session.SetPackageDigest(PackageDigest(package));
    if (const DeviceAccess access = CheckCardAccess(request.port); access.exitStatus != kExitOk)
        return NotStarted(session, access.exitStatus, access.problem);
    PluginHostOptions options;
    options.pluginPath = request.pluginPath;
    options.onTrace = [&](const TraceEntry& entry) { session.OnTrace(entry); };
    options.onProgress = [&](int percent) { session.OnProgress(percent); };
    PluginHost host(options);
    if (!host.Load(error)) return NotStarted(session, kExitOther, "Cannot load the upgrade module: " + error);
    if (const std::string refusal = RefusalFromModule(host, request.port, request.rescue ? CardUse::Rescue : CardUse::Drive);
        !refusal.empty())
        return Unsupported(session, refusal);
    if (placement.ownFolder && !EnterRunFolder(session, working, package, placement, error))
        return NotStarted(session, kExitOther, "Not started: " + error + ".");
    const std::string modulePackage = placement.ownFolder ? session.Base().runFolder : package;
    std::map<std::string, uint64_t> sizes;
    for (const auto& file : report.files) sizes[file.name] = file.size;
    session.StartEstimate(std::move(sizes), PauseScaleOf(CardDevicePathNow(request.port)));

    bool handled = false;
    RunResult result = session.Base();
    std::string operationsError;
    const FwupCardOperationTable* table = host.CardOperations(operationsError);
    std::optional<PluginOperations> operations;
    if (table != nullptr) operations.emplace(*table, CardTarget{request.port, aim.followedPin});
    if (request.rescue && !operations)
        return NotStarted(session, kExitOther, "The upgrade module cannot rescue a card: " + operationsError + ".");
    session.MarkStarted();
    if (operations) {
        result.code = RunThroughPlugin(session, *operations, request, modulePackage);
        handled = true;
    } else {
        // A plug-in without the card operations still upgrades through
        // message 1025, as the host application has it do.
        session.Notice("The upgrade module has no card operations of this version (" + operationsError +
                       "): the run is told in less detail.");
        result.code = host.Upgrade(request.port, modulePackage, handled);
    }
    if (!handled) {
        result.exitStatus = kExitOther;
        result.headline = "The module did not accept the upgrade message (answer " + std::to_string(result.code) + ").";
        return result;
    }
    result.exitStatus = ExitStatusFor(result.code);
    if (result.code == 0) {
        if (operations) result.keptBackup = operations->Outcome().keptBackup;
        if (const std::optional<RunBackup> backup = BackupOfRun(modulePackage, session.Started()); backup && result.keptBackup.empty())
            result.keptBackup = backup->keptFolder;
        result.headline = !request.rescue ? "The card was flashed successfully."
                          : DataLeftOut(request, operations ? operations->Outcome() : CardOutcome{})
                              ? "The card was rescued without its data: every image is written, and the card's data "
                                "was NOT put back (its NV items, Wi-Fi address and lock files are the new firmware's)."
                              : "The card was rescued: every image is written and its data is back.";
        return result;
    }
    const FailureSummary summary = session.Summarize(result.code, request.rescue ? "rescue" : "upgrade");
    result.headline = summary.headline;
    result.stepLine = summary.step;
    result.reasonLine = summary.reason;
    if (result.code == kPackageRejectedCode) return result;
    const CardOutcome outcome = operations ? operations->Outcome() : CardOutcome{};
    DescribeCardAfterFailure(session, operations ? &*operations : nullptr, outcome, result);
    DescribeBackupCopyFailure(outcome, session.PastSwitch(), result);
    if (request.rescue) OfferWaysOn(session, request, outcome, result);
    return result;
}

}  // namespace

RunResult RunSingleCard(const SingleRunRequest& given, std::ostream& out) {
    // The card is pinned once, at the start, while it is still where the
    // user named it; the rescue command then names the pin too.
    SingleRunRequest request = given;
    // The run may work in a folder of its own: every path is fixed now.
    request.package = AbsolutePath(request.package);
    if (!request.logFile.empty()) request.logFile = AbsolutePath(request.logFile);
    if (!request.rescueFrom.empty()) request.rescueFrom = AbsolutePath(request.rescueFrom);
    if (!request.device.empty()) request.device = AbsolutePath(request.device);
    CardAim aim;
    std::string error;
    const bool aimed = AimAtCard({request.device, request.usbPort}, aim, error);
    if (!aim.pinName.empty()) request.usbPort = aim.pinName;
    RunSession session(request, out, BaseResult(given));
    SignalWatch watch([&session](int signal) { session.OnSignal(signal); });
    if (!aimed) return session.Finish(NotStarted(session, kExitUsage, error));
    return session.Finish(Upgrade(session, request, aim));
}

}  // namespace fwupgrade

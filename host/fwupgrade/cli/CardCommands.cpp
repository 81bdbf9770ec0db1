#include "host/fwupgrade/cli/CardCommands.h"

#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <iostream>
#include <optional>

#include "host/fwupgrade/cli/BackupsCommand.h"
#include "host/fwupgrade/card/CardAim.h"
#include "host/fwupgrade/card/CardBackup.h"
#include "host/fwupgrade/plugin/CardSupport.h"
#include "host/fwupgrade/card/DeviceAccess.h"
#include "host/fwupgrade/report/FailureReport.h"
#include "host/fwupgrade/report/EventWords.h"
#include "host/fwupgrade/report/History.h"
#include "host/fwupgrade/run/LogFile.h"
#include "host/fwupgrade/card/ModemManager.h"
#include "host/fwupgrade/run/PackageView.h"
#include "host/fwupgrade/plugin/PluginHost.h"
#include "host/fwupgrade/card/RescueCommand.h"
#include "host/fwupgrade/card/RescueWaysOn.h"
#include "host/fwupgrade/plugin/PluginOperations.h"
#include "host/fwupgrade/report/RunRecord.h"
#include "host/fwupgrade/report/RunResult.h"
#include "platform/Platform.h"
#include "upgrade/backup/BackupRecord.h"
#include "upgrade/backup/BackupStore.h"

namespace fwupgrade {

namespace {

constexpr int32_t kDevicePort = 1;   // the port pattern names the device itself
// These commands take no package: the rescue command they print names its place.
constexpr const char* kPackagePlaceholder = "DIR";

std::string Narrow(const std::u16string& text) { return platform::WideToUtf8(text); }
std::u16string Wide(const std::string& text) { return platform::Utf8ToWide(text); }

// One backup or restore: the port, the log, the linked module, the history.
class CardDataRun {
public:
    CardDataRun(const CardDataOptions& options, const char* kind)
        : options_(options), kind_(kind), started_(std::time(nullptr)), steady_(std::chrono::steady_clock::now()) {
        const CardName card{options.device, options.usbPort};
        const bool named = !options.device.empty() || !options.usbPort.empty();
        result_.device = named ? card.Label() : "COM" + std::to_string(options.port);
        result_.port = named ? kDevicePort : options.port;
        result_.folder = AbsolutePath(".");
    }

    // Points the module's port at the card; says how it is followed.
    bool Aim() {
        std::string note, error;
        if (!AimAtCard({options_.device, options_.usbPort}, pinName_, note, error)) return Fail(kExitUsage, error);
        if (!note.empty()) std::cout << note << "\n";
        const DeviceAccess access = CheckCardAccess(result_.port);
        if (access.exitStatus != kExitOk) return Fail(access.exitStatus, access.problem);
        if (!AskModule()) return false;
        inhibition_.emplace(pinName_, [](const std::string& line) { std::cout << line << "\n"; });
        return true;
    }

    // Loads the plug-in (--plugin, else the registered one) and takes its
    // card operations; the trace goes to the log.
    bool LoadPlugin() {
        PluginHostOptions hostOptions;
        hostOptions.pluginPath = options_.pluginPath;
        hostOptions.onTrace = [this](const TraceEntry& entry) { log_.Line(FormatTraceLine(entry)); };
        hostOptions.onProgress = [](int) {};
        host_.emplace(hostOptions);
        std::string error;
        if (!host_->Load(error)) return Fail(kExitOther, "Cannot load the upgrade module: " + error + ".");
        const FwupCardOperationTable* table = host_->CardOperations(error);
        if (table == nullptr) return Fail(kExitOther, "The upgrade module cannot be used: " + error + ".");
        operations_.emplace(*table, CardTarget{result_.port, pinName_});
        return true;
    }

    // Message 1026 to the plug-in about the card, before anything is sent to it.
    bool AskModule() {
        PluginHost host(PluginHostOptions{});
        std::string error;
        if (!host.Load(error)) return Fail(kExitOther, "Cannot load the upgrade module: " + error);
        const std::string refusal = RefusalFromModule(host, result_.port, CardUse::Drive);
        if (refusal.empty()) return true;
        if (const auto identity = CardIdentityNow(result_.port); identity && !CardModeOf(*identity).empty())
            NameRescue();
        return Fail(kExitUnsupported, refusal);
    }

    // The card is in its boot downloader or flash programmer: the rescue takes it.
    void NameRescue() {
        result_.rescueCommand = RescueCommandFor(pinName_, options_.device, options_.port, kPackagePlaceholder);
    }

    // After a failure: a card a run left outside its firmware is named so.
    void DescribeCardOutsideFirmware(const char* failed) {
        uint32_t esn = 0;
        const int32_t state = Operations().Probe(esn);
        if (state != FWUP_CARD_BOOT_DOWNLOADER && state != FWUP_CARD_FLASH_PROGRAMMER) return;
        result_.headline = "The card is " + CardStateWords(state) + ", not in its firmware (a run left it there), so " +
                           failed + "; the card is unchanged.";
        NameRescue();
    }

    bool OpenLog() {
        std::string path = options_.logFile;
        if (path.empty()) {
            const std::string state = StateFolder();
            if (state.empty()) return Fail(kExitOther, "No state folder for the log (set XDG_STATE_HOME or HOME).");
            path = state + "/logs/" + upgrade::RecordTimeNow() + "-" + std::to_string(::getpid()) + "-" + kind_ + ".log";
        }
        std::string error;
        if (!log_.Open(path, error)) return Fail(kExitOther, "Cannot write the log file " + path + ": " + error + ".");
        result_.logFile = AbsolutePath(path);
        return true;
    }

    PluginOperations& Operations() { return *operations_; }
    int32_t Port() const { return result_.port; }
    RunResult& Result() { return result_; }
    CardFacts& Facts() { return facts_; }

    bool Fail(int exitStatus, const std::string& headline) {
        result_.exitStatus = exitStatus;
        result_.headline = headline;
        return false;
    }

    // Prints the outcome, ends the log and appends the history entry.
    int Finish(const std::string& details) {
        const std::string rescue = result_.rescueCommand.empty() ? ""
                                   : "  To rescue the card run: " + result_.rescueCommand + "  (" +
                                         kPackagePlaceholder + ": the firmware package folder)\n";
        const std::string text = result_.device + ": " + result_.headline + "\n" + details + rescue +
                                 (result_.logFile.empty() ? "" : "  log:         " + result_.logFile + "\n");
        std::cout << text << std::flush;
        for (size_t from = 0, end; (end = text.find('\n', from)) != std::string::npos; from = end + 1)
            log_.Line("fwupgrade: " + text.substr(from, end - from));
        RunRecord record;
        record.time = LocalTimeText(started_);
        record.command = options_.commandLine;
        record.device = result_.device;
        record.stableDevice = StableDevicePath(options_.device);
        record.card = facts_;
        record.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - steady_).count();
        std::string error;
        const std::string state = StateFolder();
        if (state.empty() || !AppendHistory(state + "/" + kHistoryFileName, HistoryEntry(record, result_), error))
            std::cerr << "fwupgrade: the " << kind_ << " is not in the history: " << (state.empty() ? "no state folder" : error)
                      << "\n";
        return result_.exitStatus;
    }

private:
    std::optional<ModemManagerInhibition> inhibition_;   // destroyed last, after the module's last port
    CardDataOptions options_;
    std::string pinName_;   // the USB port the card is pinned to, "" when opened by its path
    std::string kind_;
    std::time_t started_;
    std::chrono::steady_clock::time_point steady_;
    RunResult result_;
    CardFacts facts_;
    LogFile log_;
    std::optional<PluginHost> host_;
    std::optional<PluginOperations> operations_;
};

// "fwupgrade restore --device D": the card as the user named it.
std::string RestoreCommandFor(const CardDataOptions& options) {
    if (!options.device.empty()) return "fwupgrade restore --device " + ShellWord(options.device);
    if (!options.usbPort.empty()) return "fwupgrade restore --usb-port " + ShellWord(options.usbPort);
    return "fwupgrade restore --port " + std::to_string(options.port);
}

std::string WaysOnText(const std::vector<std::string>& ways) {
    std::string text = ways.empty() ? "" : "  Ways on:\n";
    for (const std::string& way : ways) text += "    " + way + "\n";
    return text;
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
    CardDataRun run(options, "backup");
    if (!run.Aim() || !run.OpenLog() || !run.LoadPlugin()) return run.Finish("");
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
    if (operations.Backup(folder) != 0) {
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
    CardDataRun run(options, "restore");
    if (!run.Aim() || !run.OpenLog() || !run.LoadPlugin()) return run.Finish("");
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
    // The module checks the backup against the card before it writes anything.
    const int32_t result = operations.Restore(from, options.force);
    const CardOutcome& outcome = operations.Outcome();
    if (result != 0 && outcome.reason == FWUP_REASON_OTHER_CARD) {
        run.Fail(kExitFailed, "Nothing was written back (" + ReasonWords(outcome.reason) + "). " +
                                  OtherCardWords(from, cardEsn) + " Give --force to write it to this card anyway.");
        return run.Finish(WaysOnText(WaysOn({RestoreCommandFor(options), from, false}, RescuableBackupsOf(cardEsn))));
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

#include "host/fwupgrade/run/RunSession.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>

#include "host/fwupgrade/card/CardBackup.h"
#include "host/fwupgrade/cli/Commands.h"
#include "host/fwupgrade/report/EventWords.h"
#include "host/fwupgrade/report/History.h"
#include "host/fwupgrade/run/PackageView.h"
#include "host/fwupgrade/card/RescueCommand.h"
#include "host/fwupgrade/run/RunFolder.h"

namespace fwupgrade {

namespace {

bool WrittenSince(const std::string& path, std::time_t since) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && info.st_mtime >= since;
}

std::string SignalName(int signal) {
    switch (signal) {
        case SIGINT: return "SIGINT";
        case SIGTERM: return "SIGTERM";
        case SIGHUP: return "SIGHUP";
        default: return "signal " + std::to_string(signal);
    }
}

// Where the card is while the module is at this progress value.
std::string CardStateAtProgress(int percent) {
    if (percent < 7) return "leaving its firmware";
    if (percent < 10) return "in its boot downloader";
    if (percent < 98) return "in the flash programmer";
    return "restarting into its new firmware";
}

// A name for the default log that sorts by the run's start (UTC, so a change
// of daylight saving time keeps the order), then by process.
std::string DefaultLogName(std::time_t started, const std::string& device) {
    std::tm utc{};
    ::gmtime_r(&started, &utc);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y%m%dT%H%M%SZ", &utc);
    std::string label = device.substr(device.rfind('/') + 1);
    for (char& c : label)
        if (c == ' ' || c == '%') c = '_';
    return std::string(stamp) + "-" + std::to_string(::getpid()) + "-" + label + ".log";
}

// The device node behind a COM number, as the serial layer maps it.
std::string PortDevicePath(int32_t port) {
    const char* pattern = std::getenv("FWUPGRADE_PORT_PATTERN");
    std::string path = pattern != nullptr && *pattern != '\0' ? pattern : "/dev/ttyUSB%d";
    if (const size_t at = path.find("%d"); at != std::string::npos) path.replace(at, 2, std::to_string(port));
    return path;
}

}  // namespace

RunSession::RunSession(const SingleRunRequest& request, std::ostream& out, RunResult base)
    : request_(request),
      out_(out),
      base_(std::move(base)),
      view_(out, {""}, !request.json && OutputIsTerminal()),
      phases_(std::chrono::steady_clock::now()),
      startedSteady_(std::chrono::steady_clock::now()),
      started_(std::time(nullptr)) {
    record_.time = LocalTimeText(started_);
    record_.command = request.command;
    record_.device = base_.device;
    record_.package = request.package.empty() ? std::string() : AbsolutePath(request.package);
    modulePackage_ = record_.package;
    runId_ = RunStamp(started_);
}

RunSession::~RunSession() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        finished_ = true;
    }
    tick_.notify_all();
    if (ticker_.joinable()) ticker_.join();
}

void RunSession::StartEstimate(std::map<std::string, uint64_t> imageBytes, double pauseScale) {
    std::lock_guard<std::mutex> lock(mutex_);
    estimate_.emplace(std::move(imageBytes), pauseScale);
    activity_ = "checking the package";
    if (!request_.json && OutputIsTerminal() && !ticker_.joinable()) ticker_ = std::thread([this] { Tick(); });
}

void RunSession::Tick() {
    std::unique_lock<std::mutex> lock(mutex_);
    while (!finished_) {
        tick_.wait_for(lock, std::chrono::seconds(1));
        if (!finished_) ShowDetailLocked();
    }
}

double RunSession::Elapsed() const {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - startedSteady_).count();
}

ProgressDetail RunSession::DetailLocked() const {
    ProgressDetail detail;
    detail.step = activity_;
    detail.elapsed = Elapsed();
    if (estimate_) {
        detail.left = estimate_->SecondsLeft(detail.elapsed);
        detail.rate = estimate_->BytesPerSecond(detail.elapsed);
    }
    return detail;
}

// "writing system.img  0:42, about 1:10 left, 3.3 MB/s"
void RunSession::ShowDetailLocked() {
    if (request_.json || !estimate_) return;
    const ProgressDetail detail = DetailLocked();
    std::string text = detail.step.empty() ? "" : detail.step + "  ";
    text += ClockText(detail.elapsed) + ", about " + ClockText(detail.left) + " left";
    if (detail.rate) text += ", " + RateText(*detail.rate);
    view_.SetDetail(0, text);
}

void RunSession::ServeCardData(CardDataMode mode) {
    std::lock_guard<std::mutex> lock(mutex_);
    interrupts_.SetRule(StopRule::AtSafePoint);
    cardData_ = std::move(mode);
}

void RunSession::SetCardFacts(const CardFacts& facts) {
    std::lock_guard<std::mutex> lock(mutex_);
    cardFacts_ = facts;
}

std::string RunSession::StopSignalName() {
    std::lock_guard<std::mutex> lock(mutex_);
    return stopSignal_;
}

bool RunSession::OpenLog(std::string& error) {
    std::string path = request_.logFile;
    if (path.empty()) {
        const std::string state = StateFolder();
        if (state.empty()) {
            error = "no state folder for the log (set XDG_STATE_HOME or HOME)";
            return false;
        }
        path = state + "/logs/" + DefaultLogName(started_, base_.device);
    }
    std::lock_guard<std::mutex> lock(mutex_);
    if (!log_.Open(path, error)) {
        error = "cannot write the log file " + AbsolutePath(path) + ": " + error;
        return false;
    }
    base_.logFile = AbsolutePath(path);
    return true;
}

void RunSession::SetPackageDigest(std::string digest) {
    std::lock_guard<std::mutex> lock(mutex_);
    record_.packageDigest = std::move(digest);
}

void RunSession::UseRunFolder(const std::string& folder) {
    std::lock_guard<std::mutex> lock(mutex_);
    modulePackage_ = folder;
    base_.runFolder = folder;
    base_.folder = folder;
    base_.channelNvm = folder + "/" + kChannelNvFile;
    base_.lockBackup = folder + "/" + kLockBackupFile;
}

CardKeys RunSession::CardKeysLocked(const std::string& esn) const {
    // A card followed on a USB port is known by that port: its device names
    // change with its restarts.
    CardKeys keys;
    keys.device = base_.device;
    keys.stableDevice = !request_.usbPort.empty() ? "usb-port:" + request_.usbPort
                        : StableDevicePath(request_.device.empty() ? PortDevicePath(request_.port) : request_.device);
    keys.esn = esn;
    return keys;
}

std::string RunSession::EarlierUnfinishedLocked(const std::string& esn) {
    const std::string state = StateFolder();
    if (state.empty()) return {};
    UnfinishedLookup lookup;
    lookup.esnOf = [this](const nlohmann::json& entry) {
        const std::string run = entry.value("run", "");
        if (const auto known = unfinishedEsns_.find(run); known != unfinishedEsns_.end()) return known->second;
        const std::string nv = entry.value("channel_nvm", "");
        const auto started = entry.find("started");
        if (unfinishedEsnsTaken_ || nv.empty() || started == entry.end() || !started->is_number_integer())
            return std::string();
        const std::optional<RunBackup> backup = BackupOfRun(nv.substr(0, nv.rfind('/')), started->get<std::time_t>());
        return unfinishedEsns_[run] = backup ? upgrade::EsnText(backup->record.esn) : std::string();
    };
    lookup.running = [](int64_t pid) {
        return pid > 0 && pid != ::getpid() && (::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM);
    };
    const auto earlier = UnfinishedRunOn(FoldRunEntries(ReadHistory(state + "/" + kHistoryFileName)),
                                         CardKeysLocked(esn), runId_, lookup);
    return earlier ? UnfinishedRunWords(*earlier) : std::string();
}

void RunSession::MarkStarted() {
    std::lock_guard<std::mutex> lock(mutex_);
    earlierRun_ = EarlierUnfinishedLocked("");
    unfinishedEsnsTaken_ = true;
    if (!earlierRun_.empty()) NoticeLocked("An earlier run on this card never finished: " + earlierRun_);
    const CardKeys keys = CardKeysLocked("");
    const nlohmann::json entry{
        {"run", runId_},
        {"started", static_cast<int64_t>(started_)},
        {"pid", static_cast<int64_t>(::getpid())},
        {"time", record_.time},
        {"command", record_.command},
        {"device", record_.device},
        {"device_by_id", keys.stableDevice},
        {"package", record_.package},
        {"package_digest", record_.packageDigest},
        {"run_folder", base_.runFolder},
        {"channel_nvm", base_.channelNvm},
        {"result", kUnfinishedResult},
        {"log", base_.logFile},
    };
    std::string error;
    if (const std::string state = StateFolder(); state.empty() || !AppendHistory(state + "/" + kHistoryFileName, entry, error))
        std::cerr << "fwupgrade: the run is not in the history: " << (state.empty() ? "no state folder" : error) << "\n";
}

void RunSession::OnTrace(const TraceEntry& entry) {
    std::lock_guard<std::mutex> lock(mutex_);
    log_.Line(FormatTraceLine(entry));
}

void RunSession::OnStep(int32_t step) {
    std::lock_guard<std::mutex> lock(mutex_);
    findings_.OnStep(step);
    activity_ = ActivityAt(step, std::max(highestProgress_, 0));
    if (request_.json) {
        out_ << nlohmann::json{{"event", "step"}, {"step", StepName(step)}, {"words", StepWords(step)}}.dump() << "\n";
        out_.flush();
    }
    ShowDetailLocked();
}

void RunSession::OnCard(uint32_t esn, const std::string& version) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!request_.json) return;
    out_ << nlohmann::json{{"event", "card"}, {"esn", upgrade::EsnText(esn)}, {"version", version}}.dump() << "\n";
    out_.flush();
}

void RunSession::OnLoss(const CardLoss& loss) {
    std::lock_guard<std::mutex> lock(mutex_);
    findings_.OnLoss(loss);
}

void RunSession::OnOutcome(const CardOutcome& outcome) {
    std::lock_guard<std::mutex> lock(mutex_);
    findings_.OnOutcome(outcome);
    outcome_ = outcome;
}

void RunSession::OnProgress(int percent) {
    std::lock_guard<std::mutex> lock(mutex_);
    highestProgress_ = std::max(highestProgress_, percent);
    phases_.Progress(percent, std::chrono::steady_clock::now());
    if (estimate_) estimate_->Progress(percent, Elapsed());
    if (findings_.Findings().step >= 0) activity_ = ActivityAt(findings_.Findings().step, percent);
    if (percent >= 100) activity_ = "done";
    if (request_.json) {
        out_ << (estimate_ ? ProgressEvent(percent, DetailLocked()) : ProgressEvent(percent)) << "\n";
        out_.flush();
    } else {
        view_.Update(0, percent);
        ShowDetailLocked();
    }
}

void RunSession::OnSignal(int signal) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (finished_) return;
    const std::string name = SignalName(signal);
    switch (interrupts_.OnSignal(signal, PastSwitch(), std::chrono::steady_clock::now())) {
        case SignalAction::StopUnchanged: {
            RunResult result = base_;
            result.exitStatus = kExitInterrupted;
            result.headline = "Stopped by " + name + " before the card left its firmware: the card is unchanged.";
            EndNowLocked(result);
        }
        case SignalAction::StopAtSafePoint:
            stopRequested_ = true;
            if (stopSignal_.empty()) stopSignal_ = name;
            NoticeLocked(name + ": " + (cardData_ ? cardData_->stopNotice : "the run stops at its next safe point."));
            return;
        case SignalAction::StopPartWritten:
            EndNowLocked(StoppedMidwayLocked(name));
        case SignalAction::StopWithRescue: {
            RunResult result = base_;
            result.exitStatus = kExitInterrupted;
            const std::string step = CurrentStepWordsLocked();
            result.headline = "Stopped by a second " + name + " while the card was being flashed" +
                              (step.empty() ? "" : " (" + step + ")") + ": the card has no working firmware now.";
            result.rescueCommand = RescueCommand();
            result.cardState = CardStateAtProgress(highestProgress_);
            if (const std::optional<RunBackup> backup = BackupOfRun(modulePackage_, 0)) result.keptBackup = backup->keptFolder;
            EndNowLocked(result);
        }
        case SignalAction::WarnAndGoOn:
            NoticeLocked(name + ": the card is being flashed and the run will finish; stopping now would leave it "
                                "without working firmware. Send it again within 5 s to stop anyway.");
            return;
        case SignalAction::Ignore:
            log_.Line("fwupgrade: " + name + " ignored: the card is being flashed and the run goes on.");
            return;
    }
}

RunResult RunSession::StoppedMidwayLocked(const std::string& signalName) const {
    RunResult result = base_;
    result.exitStatus = kExitInterrupted;
    result.headline = "Stopped by a second " + signalName + " " + (cardData_ ? cardData_->stoppedMidway : "");
    if (cardFacts_ && !cardFacts_->keptBackup.empty()) {
        result.keptBackup = cardFacts_->keptBackup;
        result.restoreCommand = RestoreCommand(cardFacts_->keptBackup);
    }
    return result;
}

FailureSummary RunSession::Summarize(int32_t code, const std::string& operation) {
    std::lock_guard<std::mutex> lock(mutex_);
    return SummarizeOutcome(code, outcome_ ? &*outcome_ : nullptr, operation);
}

std::string RunSession::CurrentStepWordsLocked() const {
    const int32_t step = outcome_ && outcome_->result != 0 ? outcome_->failedStep : findings_.Findings().step;
    return step < 0 ? std::string() : StepWords(step);
}

RunResult RunSession::Finish(RunResult result) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (finished_) return result;
    result = CompleteLocked(std::move(result));
    ReportLocked(result);
    return result;
}

RunResult RunSession::CompleteLocked(RunResult result) const {
    const RunFindings& findings = findings_.Findings();
    result.losses = findings.losses;
    // Only a card whose every image went in may simply be plugged in again;
    // a card stopped or failed half-way is rescued instead.
    result.leftInProgrammer = PastSwitch() && !findings.resetReached && result.exitStatus == kExitOk;
    result.channelNvmWritten = WrittenSince(result.channelNvm, started_);
    result.lockBackupWritten = WrittenSince(result.lockBackup, started_);
    if (result.exitStatus == kExitOk && !result.losses.empty())
        result.headline = "The card was flashed, but not everything was carried over:";
    return result;
}

void RunSession::ReportLocked(RunResult result) {
    finished_ = true;
    RunRecord record = record_;
    record.card = cardFacts_ ? *cardFacts_ : GatherCardFacts(findings_.Findings(), result.channelNvm, started_);
    if (record.card.keptBackup.empty()) record.card.keptBackup = result.keptBackup;
    const CardKeys keys = CardKeysLocked(record.card.esn);
    record.stableDevice = keys.stableDevice;
    // The card's ESN, read during the run, finds runs on it under another name.
    if (earlierRun_.empty() && !record.card.esn.empty()) earlierRun_ = EarlierUnfinishedLocked(record.card.esn);
    result.earlierRun = earlierRun_;
    if (request_.json) {
        out_ << ResultEvent(result) << std::endl;
    } else {
        view_.Close();
        out_ << SummaryLocked(result) << std::flush;
    }
    const std::string summary = SummaryLocked(result);
    for (size_t from = 0, end; (end = summary.find('\n', from)) != std::string::npos; from = end + 1)
        log_.Line("fwupgrade: " + summary.substr(from, end - from));

    if (result.exitStatus == kExitFailed || result.exitStatus == kExitInterrupted) record.failedStep = CurrentStepWordsLocked();
    const auto now = std::chrono::steady_clock::now();
    record.phases = phases_.Durations(now);
    record.seconds = std::chrono::duration<double>(now - startedSteady_).count();
    nlohmann::json entry = HistoryEntry(record, result);
    entry["run"] = runId_;
    entry["started"] = static_cast<int64_t>(started_);
    entry["run_folder"] = result.runFolder;
    entry["channel_nvm"] = result.channelNvm;
    std::string error;
    if (const std::string state = StateFolder(); state.empty() || !AppendHistory(state + "/" + kHistoryFileName, entry, error))
        std::cerr << "fwupgrade: the run is not in the history: " << (state.empty() ? "no state folder" : error) << "\n";
    if (!request_.cardFolder.empty()) WriteCardFolderLocked(result, entry);
}

std::string RunSession::SummaryLocked(const RunResult& result) const {
    return cardData_ && cardData_->summary ? cardData_->summary(result) : SummaryText(result);
}

void RunSession::WriteCardFolderLocked(const RunResult& result, const nlohmann::json& entry) {
    std::ofstream(request_.cardFolder + "/summary.txt", std::ios::trunc) << SummaryText(result);
    std::string error;
    if (!AppendHistory(request_.cardFolder + "/" + kHistoryFileName, entry, error))
        std::cerr << "fwupgrade: " << error << "\n";
}

void RunSession::Notice(const std::string& text) {
    std::lock_guard<std::mutex> lock(mutex_);
    NoticeLocked(text);
}

void RunSession::NoticeLocked(const std::string& text) {
    log_.Line("fwupgrade: " + text);
    if (request_.json) {
        out_ << nlohmann::json{{"event", "notice"}, {"text", text}}.dump() << std::endl;
    } else {
        view_.Message(text);
    }
}

void RunSession::EndNowLocked(RunResult result) {
    ReportLocked(CompleteLocked(std::move(result)));
    out_.flush();
    std::cerr.flush();
    ::_exit(kExitInterrupted);
}

std::string RunSession::CardOptionText() const {
    // A pinned card is named by its USB port: its device path does not
    // outlive the restarts of a run.
    return !request_.usbPort.empty()  ? "--usb-port " + ShellWord(request_.usbPort)
           : request_.device.empty() ? "--port " + std::to_string(request_.port)
                                     : "--device " + ShellWord(request_.device);
}

std::string RunSession::RescueCommand() const {
    return RescueCommandFor(request_.usbPort, request_.device, request_.port, modulePackage_);
}

std::string RunSession::RestoreCommand(const std::string& keptBackup) const {
    return "fwupgrade restore " + CardOptionText() + (keptBackup.empty() ? "" : " --from " + ShellWord(keptBackup));
}

}  // namespace fwupgrade

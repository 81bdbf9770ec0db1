// One card's run as two threads see it. The thread inside message 1025 feeds
// it trace records and progress values; the signal watcher hands it stop
// signals. Whichever ends the run reports it: the result on the output, the
// summary in the log, the card folder and the history. One mutex keeps the
// two apart. A signal that ends the run takes the mutex and never gives it
// back (the process ends with _exit), so the module thread cannot pass its
// next trace line or progress value, and a run never moves past the switch
// while a signal before it is being handled.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <optional>
#include <thread>
#include <ctime>
#include <mutex>
#include <ostream>
#include <string>

#include "host/fwupgrade/report/FailureReport.h"
#include "host/fwupgrade/run/InterruptPolicy.h"
#include "host/fwupgrade/run/LogFile.h"
#include "host/fwupgrade/report/PhaseTimes.h"
#include "host/fwupgrade/report/Progress.h"
#include "host/fwupgrade/report/RunFindings.h"
#include "host/fwupgrade/report/RunRecord.h"
#include "host/fwupgrade/report/RunEstimate.h"
#include "host/fwupgrade/report/RunResult.h"
#include "host/fwupgrade/run/SingleRun.h"
#include "host/fwupgrade/report/TraceLine.h"
#include "host/fwupgrade/run/UnfinishedRuns.h"

namespace fwupgrade {

// How a backup or a restore differs from a flash: the card never leaves its
// firmware, the command words its own summary, and a stop signal asks the
// engine to stop at its next safe point (StopRule::AtSafePoint).
struct CardDataMode {
    std::function<std::string(const RunResult&)> summary;
    std::string stopNotice;      // after "SIGINT: ", what a first stop signal does
    std::string stoppedMidway;   // after "Stopped by a second SIGINT ", where a second one left the card
};

class RunSession {
public:
    // `base`: the device, port and backup paths of the run.
    RunSession(const SingleRunRequest& request, std::ostream& out, RunResult base);
    ~RunSession();
    RunSession(const RunSession&) = delete;
    RunSession& operator=(const RunSession&) = delete;

    const RunResult& Base() const { return base_; }
    // The log of the run: --log, else a new file in the state folder.
    bool OpenLog(std::string& error);
    void SetPackageDigest(std::string digest);
    // The module's files go to the run's own folder, which it is handed as
    // its package; the history keeps the real package.
    void UseRunFolder(const std::string& folder);
    // Written before the card is touched: the history entry that stays
    // "unfinished" if the run never ends. Says when an earlier run on the
    // same card never finished.
    void MarkStarted();
    // From here on the bar says what the run does and how long it takes:
    // the package's file sizes by name, and how much of each pause passes.
    void StartEstimate(std::map<std::string, uint64_t> imageBytes, double pauseScale);
    // Before the signal watch starts.
    void ServeCardData(CardDataMode mode);
    // What a backup or restore learnt of the card, for the history.
    void SetCardFacts(const CardFacts& facts);
    // A stop signal asked the engine to stop at its next safe point.
    bool StopRequested() const { return stopRequested_.load(); }
    // "SIGINT": the signal that asked for the stop.
    std::string StopSignalName();

    // The trace goes to the log only; what the run does comes from its events.
    void OnTrace(const TraceEntry& entry);
    void OnProgress(int percent);
    void OnStep(int32_t step);
    // The card is named: its ESN and version (a "card" event with --json).
    void OnCard(uint32_t esn, const std::string& version);
    void OnLoss(const CardLoss& loss);
    void OnOutcome(const CardOutcome& outcome);
    void OnSignal(int signal);
    // One line for the user, in the log too.
    void Notice(const std::string& text);

    // The module's answer in plain words, from the outcome it reported.
    FailureSummary Summarize(int32_t code, const std::string& operation);
    // Completes `result` with what the trace told and reports it; only the
    // first call reports. Returns the completed result.
    RunResult Finish(RunResult result);
    // "fwupgrade rescue --device D --package P" for this run's card.
    std::string RescueCommand() const;
    // "fwupgrade restore --device D --from K" for this run's card.
    std::string RestoreCommand(const std::string& keptBackup) const;
    bool PastSwitch() const { return !cardData_ && highestProgress_ >= kSwitchProgress; }
    std::time_t Started() const { return started_; }

private:
    RunResult CompleteLocked(RunResult result) const;
    std::string CardOptionText() const;
    // The step the run is in, or failed in, in words ("" before any).
    std::string CurrentStepWordsLocked() const;
    void ReportLocked(RunResult result);
    CardKeys CardKeysLocked(const std::string& esn) const;
    std::string EarlierUnfinishedLocked(const std::string& esn);
    void WriteCardFolderLocked(const RunResult& result, const nlohmann::json& entry);
    void NoticeLocked(const std::string& text);
    std::string SummaryLocked(const RunResult& result) const;
    RunResult StoppedMidwayLocked(const std::string& signalName) const;
    [[noreturn]] void EndNowLocked(RunResult result);
    double Elapsed() const;
    ProgressDetail DetailLocked() const;
    void ShowDetailLocked();
    void Tick();

    std::mutex mutex_;
    SingleRunRequest request_;
    std::ostream& out_;
    RunResult base_;
    RunRecord record_;
    std::string modulePackage_;   // the folder the module is handed
    std::string runId_;
    std::string earlierRun_;
    // The ESNs of the records runs that never finished left, read before
    // this run writes its own record (which may be the same file).
    std::map<std::string, std::string> unfinishedEsns_;
    bool unfinishedEsnsTaken_ = false;
    ProgressView view_;
    LogFile log_;
    FindingsTracker findings_;
    std::optional<CardOutcome> outcome_;
    PhaseTimes phases_;
    InterruptPolicy interrupts_;
    std::optional<CardDataMode> cardData_;
    std::optional<CardFacts> cardFacts_;
    std::atomic<bool> stopRequested_{false};
    std::string stopSignal_;
    std::chrono::steady_clock::time_point startedSteady_;
    std::time_t started_;
    int highestProgress_ = -1;
    bool finished_ = false;
    std::optional<RunEstimate> estimate_;
    std::string activity_;
    // Redraws the elapsed time and the estimate on a terminal while the
    // module sits in a long pause.
    std::condition_variable tick_;
    std::thread ticker_;
};

}  // namespace fwupgrade

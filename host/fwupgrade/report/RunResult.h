// The outcome of one card's run, as the summary shows it and as a worker
// hands it to the parent in its JSON event stream.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace fwupgrade {

struct RunResult {
    std::string device;             // the device path or "COM<n>"
    int32_t port = 0;
    int32_t code = 0;               // the module's result code
    int exitStatus = 0;
    std::string headline;           // plain words: what happened
    std::string stepLine;           // the step it failed in, in words
    std::string reasonLine;         // why, in words
    std::string channelNvm;         // where the NV backup file is (absolute)
    bool channelNvmWritten = false;
    std::string lockBackup;         // where the lock backup file is (absolute)
    bool lockBackupWritten = false;
    std::string logFile;            // the text log of the run, if any
    std::string folder;             // the card's working folder
    std::vector<std::string> losses;  // what the run let go of and carried on without
    bool leftInProgrammer = false;  // the card was switched and never restarted
    std::string rescueCommand;      // set when a run left the card outside its firmware
    std::string restoreCommand;     // set when the card runs its firmware but its data did not go back
    std::string cardState;          // where the card was last seen, after a failure ("in its boot downloader")
    std::string keptBackup;         // the kept backup that holds the card's data
    std::string runFolder;          // the run's own folder for the module's files ("" for a run in place)
    std::string earlierRun;         // an earlier run on this card that never finished, in words
    bool cardUnchanged = false;     // stopped before the card left its firmware
    // A copy of the backup that could not be written: which folder and why.
    std::string writeFolder;
    std::string writeFailure;       // "full-disk", "read-only", "permission", "missing", "other"
    int writeErrno = 0;
    std::vector<std::string> waysOn;  // after a refused rescue: the commands that can take the card on
    std::string details;            // a backup's or restore's own lines ("  kept backup: ...")
};

nlohmann::json ToJson(const RunResult& result);
RunResult RunResultFromJson(const nlohmann::json& event);

// One line of the event stream ("{\"event\":\"progress\",\"percent\":45}").
std::string ProgressEvent(int percent);
// With what the run does, its seconds so far and the estimate of those left,
// and while images stream their rate in bytes per second.
struct ProgressDetail {
    std::string step;
    double elapsed = 0;
    double left = 0;
    std::optional<double> rate;
};
std::string ProgressEvent(int percent, const ProgressDetail& detail);
std::string ResultEvent(const RunResult& result);

// The human summary of one card: a few lines, the failure ones last.
std::string SummaryText(const RunResult& result);

}  // namespace fwupgrade

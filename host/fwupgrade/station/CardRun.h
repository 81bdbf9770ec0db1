// One card's run in the station: `fwupgrade upgrade --json` (or `rescue
// --json` for a card found outside its firmware with a pending record) in
// the port's own folder, pinned to the card's USB port, as a worker process
// of its own (see Workers.h). Its JSON lines come back as typed reports.
#pragma once

#include <sys/types.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "host/fwupgrade/report/RunResult.h"

namespace fwupgrade::station {

// What a worker said in one line of its output.
struct WorkerReport {
    enum class Kind { Card, Step, Progress, Result } kind = Kind::Progress;
    std::string step;       // the step's words, or what the run does now
    std::string esn;        // the card's, as soon as the run has read it
    std::string version;    // the card's firmware version ("" when unread)
    int percent = -1;
    double secondsLeft = -1;
    RunResult result;
};

// One line of a worker's output; nullopt for anything the station does not show.
std::optional<WorkerReport> ReportOfLine(const std::string& line);

struct RunSetup {
    std::string executable;    // this program
    std::string package;
    std::string pluginPath;    // handed on when set
    std::string command;       // the station's command line, for the history
};

class CardRun {
public:
    CardRun() = default;
    ~CardRun();
    CardRun(const CardRun&) = delete;
    CardRun& operator=(const CardRun&) = delete;

    // `args` name the command and the card; the package, the log and the
    // plug-in are added here.
    bool Start(const RunSetup& setup, const std::vector<std::string>& args, const std::string& folder,
               const std::string& package, std::string& error);
    int Descriptor() const { return fd_; }
    // Reads what the worker wrote; false once its output is closed.
    bool Read(const std::function<void(const WorkerReport&)>& report);
    // Waits for the worker; its result, or why there is none.
    RunResult Finish();
    // Asks the run to stop: the worker ends it before the switch, and past
    // it lets it finish.
    void AskToStop();
    bool Stopping() const { return stopAsked_; }
    // Passes a stop signal of the station's on to the worker.
    void Pass(int signal);

private:
    pid_t pid_ = -1;
    int fd_ = -1;
    std::string pending_;
    std::string folder_;
    bool stopAsked_ = false;
    std::optional<RunResult> result_;
};

}  // namespace fwupgrade::station

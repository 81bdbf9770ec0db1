// Several cards at once: one worker process per card (the module is one
// object per process and keeps its backups per folder). Each worker is this
// program again, started in the card's own folder with a view of the
// package, and reports progress and its result as JSON lines on its output.
//
// A worker outlives its parent: it ignores SIGPIPE, so a parent that is gone
// costs it only its output, and it writes its summary and history entry into
// its card folder as well. Workers run in a process group of their own, so
// a terminal's signals reach the parent alone, which passes each stop signal
// on once; every worker then applies the stop rules to its own card.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

#include <functional>

#include "host/fwupgrade/report/RunResult.h"

namespace fwupgrade {

struct WorkerPlan {
    std::string executable;              // this program
    std::vector<std::string> devices;    // one card each, as shown
    std::vector<std::string> usbPorts;   // per card: the USB port it is followed on, "" (or none) for its device path
    std::string package;                 // the shared package folder
    std::string workRoot;                // card folders are made below it
    std::string pluginPath;              // handed on to the workers when set
    std::string command;                 // the run's command line, for the workers' history entries
};

// The environment a worker gets beside the parent's own.
constexpr const char* kWorkerCommandVariable = "FWUPGRADE_RUN_COMMAND";
constexpr const char* kWorkerFolderVariable = "FWUPGRADE_CARD_FOLDER";

// What the workers report while they run; cards are numbered in the order
// of `devices`.
struct WorkerEvents {
    std::function<void(size_t card, int percent)> progress;
    std::function<void(size_t card, const std::string& step, double secondsLeft)> step;
    std::function<void(size_t card, const std::string& text)> notice;
    std::function<void(size_t card, const RunResult& result)> finished;
};

// Runs every card and waits for all of them.
std::vector<RunResult> RunWorkers(const WorkerPlan& plan, const WorkerEvents& events);

// The parent's environment with the worker's own variables set.
std::vector<std::string> WorkerEnvironment(const std::string& command, const std::string& folder);

// Starts `executable args` in `folder`, in a process group of its own, with
// `env`: its output comes on `readFd`, its errors go to worker.err in the
// folder, its input is /dev/null. -1 with `error` set when it cannot start.
pid_t SpawnWorker(const std::string& executable, const std::vector<std::string>& args, const std::string& folder,
                  const std::vector<std::string>& env, int& readFd, std::string& error);

// The exit status of a run of several cards: a stopped run first, then a
// failed flash, then any other error.
int WorstExitStatus(const std::vector<RunResult>& results);

// The program's own path, for starting workers.
std::string SelfExecutable();

}  // namespace fwupgrade

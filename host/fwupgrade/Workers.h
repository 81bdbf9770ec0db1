// Several cards at once: one worker process per card (the module is one
// object per process and keeps its backups per folder). Each worker is this
// program again, started in the card's own folder with a view of the
// package, and reports progress and its result as JSON lines on its output.
#pragma once

#include <string>
#include <vector>

#include <functional>

#include "host/fwupgrade/RunResult.h"

namespace fwupgrade {

struct WorkerPlan {
    std::string executable;              // this program
    std::vector<std::string> devices;    // one card each
    std::string package;                 // the shared package folder
    std::string workRoot;                // card folders are made below it
    std::string pluginPath;              // handed on to the workers when set
};

// What the workers report while they run; cards are numbered in the order
// of `devices`.
struct WorkerEvents {
    std::function<void(size_t card, int percent)> progress;
    std::function<void(size_t card, const RunResult& result)> finished;
};

// Runs every card and waits for all of them.
std::vector<RunResult> RunWorkers(const WorkerPlan& plan, const WorkerEvents& events);

// The program's own path, for starting workers.
std::string SelfExecutable();

}  // namespace fwupgrade

// Several cards at once: one worker process per card (the module is one
// object per process and keeps its backups per folder). Each worker is this
// program again, started in the card's own folder with a view of the
// package, and reports progress and its result as JSON lines on its output.
#pragma once

#include <string>
#include <vector>

#include "host/fwupgrade/Progress.h"
#include "host/fwupgrade/RunResult.h"

namespace fwupgrade {

struct WorkerPlan {
    std::string executable;              // this program
    std::vector<std::string> devices;    // one card each
    std::string package;                 // the shared package folder
    std::string workRoot;                // card folders are made below it
};

// Runs every card and waits for all of them. Progress lines go to `view`
// (one line per card, in the order of `devices`).
std::vector<RunResult> RunWorkers(const WorkerPlan& plan, ProgressView& view);

// The program's own path, for starting workers.
std::string SelfExecutable();

}  // namespace fwupgrade

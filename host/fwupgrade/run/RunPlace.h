// Where one card's run writes the module's files. A run that can hold the
// package folder and the current folder writes them there, as the host
// application has it; a run that finds either held by another run, or
// cannot write there, gets a run folder of its own (RunFolder.h).
#pragma once

#include <string>

#include "host/fwupgrade/run/RunLock.h"

namespace fwupgrade {

struct Placement {
    bool ownFolder = false;
    std::string why;   // why the run has a folder of its own, in words
};

// Holds the folders in `lock`. A run that may not move (a worker, whose card
// folder is its own already; a rescue, which works where its backup is)
// keeps the old rule: false, with `error`, when another run holds one.
bool PlaceRun(RunLock& lock, bool mayMove, const std::string& package, const std::string& current,
              Placement& placement, std::string& error);

// The current folder for the length of a run, then back to the one before:
// the module writes its lock backup into the current folder.
class WorkingFolder {
public:
    WorkingFolder();
    ~WorkingFolder();
    WorkingFolder(const WorkingFolder&) = delete;
    WorkingFolder& operator=(const WorkingFolder&) = delete;
    bool MoveTo(const std::string& folder, std::string& error);

private:
    std::string before_;
    bool moved_ = false;
};

}  // namespace fwupgrade

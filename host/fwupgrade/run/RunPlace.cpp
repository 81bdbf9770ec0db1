#include "host/fwupgrade/run/RunPlace.h"

#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>

#include "host/fwupgrade/card/WriteProbe.h"

namespace fwupgrade {

namespace {

// " cannot be written: the folder is on a read-only file system"
std::string UnwritableWords(int error) {
    const std::string words = " cannot be written";
    if (error == 0) return words;
    return words + ": " + WriteProblemWords({"", WriteFailureOf(error), error});
}

}  // namespace

bool PlaceRun(RunLock& lock, bool mayMove, const std::string& package, const std::string& current,
              Placement& placement, std::string& error) {
    if (!mayMove) return lock.Acquire({package, current}, error);
    int packageError = 0, currentError = 0;
    const FolderHold packageHold = lock.Hold(package, &packageError);
    const FolderHold currentHold = lock.Hold(current, &currentError);
    if (packageHold == FolderHold::Busy) placement.why = "another fwupgrade run is using " + package;
    else if (packageHold == FolderHold::Unwritable) placement.why = "the package folder " + package + UnwritableWords(packageError);
    else if (currentHold == FolderHold::Busy) placement.why = "another fwupgrade run is using " + current;
    else if (currentHold == FolderHold::Unwritable) placement.why = "the current folder " + current + UnwritableWords(currentError);
    placement.ownFolder = !placement.why.empty();
    return true;
}

WorkingFolder::WorkingFolder() {
    char path[PATH_MAX];
    if (::getcwd(path, sizeof path) != nullptr) before_ = path;
}

WorkingFolder::~WorkingFolder() {
    if (moved_ && !before_.empty()) (void)::chdir(before_.c_str());
}

bool WorkingFolder::MoveTo(const std::string& folder, std::string& error) {
    if (::chdir(folder.c_str()) != 0) {
        error = "cannot work in " + folder + ": " + std::strerror(errno);
        return false;
    }
    moved_ = true;
    return true;
}

}  // namespace fwupgrade

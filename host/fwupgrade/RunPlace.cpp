#include "host/fwupgrade/RunPlace.h"

#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>

namespace fwupgrade {

bool PlaceRun(RunLock& lock, bool mayMove, const std::string& package, const std::string& current,
              Placement& placement, std::string& error) {
    if (!mayMove) return lock.Acquire({package, current}, error);
    const FolderHold packageHold = lock.Hold(package);
    const FolderHold currentHold = lock.Hold(current);
    if (packageHold == FolderHold::Busy) placement.why = "another fwupgrade run is using " + package;
    else if (packageHold == FolderHold::Unwritable) placement.why = "the package folder " + package + " cannot be written";
    else if (currentHold == FolderHold::Busy) placement.why = "another fwupgrade run is using " + current;
    else if (currentHold == FolderHold::Unwritable) placement.why = "the current folder " + current + " cannot be written";
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

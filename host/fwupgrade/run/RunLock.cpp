#include "host/fwupgrade/run/RunLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <climits>

namespace fwupgrade {

namespace {

std::string Resolved(const std::string& folder) {
    char path[PATH_MAX];
    return ::realpath(folder.c_str(), path) != nullptr ? std::string(path) : folder;
}

}  // namespace

RunLock::~RunLock() {
    for (int fd : fds_) ::close(fd);
}

FolderHold RunLock::Hold(const std::string& folder, int* error) {
    const std::string resolved = Resolved(folder);
    if (std::find(held_.begin(), held_.end(), resolved) != held_.end()) return FolderHold::Held;
    const int fd = ::open((resolved + "/" + kRunLockFile).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) {
        if (error != nullptr) *error = errno;
        return FolderHold::Unwritable;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return FolderHold::Busy;
    }
    fds_.push_back(fd);
    held_.push_back(resolved);
    return FolderHold::Held;
}

bool RunLock::Acquire(const std::vector<std::string>& folders, std::string& error) {
    for (const auto& folder : folders) {
        if (Hold(folder) != FolderHold::Busy) continue;
        // Nothing stays held by a run that does not start.
        for (int held : fds_) ::close(held);
        fds_.clear();
        held_.clear();
        error = "another fwupgrade run is using " + Resolved(folder) +
                " (its backups would be overwritten); flash several cards with --device A --device B ...";
        return false;
    }
    return true;
}

}  // namespace fwupgrade

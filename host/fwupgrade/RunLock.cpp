#include "host/fwupgrade/RunLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

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

bool RunLock::Acquire(const std::vector<std::string>& folders, std::string& error) {
    std::vector<std::string> taken;
    for (const auto& folder : folders) {
        const std::string resolved = Resolved(folder);
        bool already = false;
        for (const auto& t : taken) already = already || t == resolved;
        if (already) continue;
        const int fd = ::open((resolved + "/" + kRunLockFile).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
        if (fd < 0) continue;
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            ::close(fd);
            // Nothing stays held by a run that does not start.
            for (int held : fds_) ::close(held);
            fds_.clear();
            error = "another fwupgrade run is using " + resolved +
                    " (its backups would be overwritten); flash several cards with --device A --device B ...";
            return false;
        }
        fds_.push_back(fd);
        taken.push_back(resolved);
    }
    return true;
}

}  // namespace fwupgrade

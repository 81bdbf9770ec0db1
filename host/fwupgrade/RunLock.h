// One card at a time per folder. A run in place writes the lock backup file
// into the current folder and channel.nvm into the package folder; a second
// run in the same folder at the same time would overwrite the first card's
// backups with its own and later restore them onto the wrong card. Each
// folder is therefore held with an advisory lock for the length of a run.
#pragma once

#include <string>
#include <vector>

namespace fwupgrade {

constexpr const char* kRunLockFile = ".fwupgrade.lock";

class RunLock {
public:
    RunLock() = default;
    ~RunLock();
    RunLock(const RunLock&) = delete;
    RunLock& operator=(const RunLock&) = delete;

    // Takes the lock of each folder. False, with the busy folder named in
    // `error`, when another run holds one of them; a folder where no lock
    // file can be made is not held (the module then fails to write there).
    bool Acquire(const std::vector<std::string>& folders, std::string& error);

private:
    std::vector<int> fds_;
};

}  // namespace fwupgrade

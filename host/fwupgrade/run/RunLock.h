// One card at a time per folder. A run in place writes the lock backup file
// into the current folder and channel.nvm into the package folder; a second
// run in the same folder at the same time would overwrite the first card's
// backups with its own and later restore them onto the wrong card. Each
// folder is therefore held with an advisory lock for the length of a run; a
// run that finds one busy (or cannot write there) takes a run folder of its
// own instead.
#pragma once

#include <string>
#include <vector>

namespace fwupgrade {

constexpr const char* kRunLockFile = ".fwupgrade.lock";

enum class FolderHold {
    Held,         // this run holds the folder
    Busy,         // another run holds it
    Unwritable,   // no lock file can be made there (read-only, no permission)
};

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

    // Takes the lock of one more folder; a folder already held counts as
    // Held. An Unwritable folder leaves the system's errno in `error`.
    FolderHold Hold(const std::string& folder, int* error = nullptr);

private:
    std::vector<int> fds_;
    std::vector<std::string> held_;   // resolved, as fds_
};

}  // namespace fwupgrade

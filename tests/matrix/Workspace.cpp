#include "tests/matrix/Workspace.h"

#include <stdlib.h>
#include <unistd.h>

namespace matrix {
namespace {

namespace fs = std::filesystem;

// Scratch folders live in memory where there is a memory file system: the
// module syncs every backup file, and the matrix writes thousands of them.
fs::path ScratchRoot() {
    std::error_code error;
    if (fs::is_directory("/dev/shm", error) && access("/dev/shm", W_OK) == 0) return "/dev/shm";
    return fs::temp_directory_path();
}

}  // namespace

Workspace::Workspace(const std::string& name) {
    previous_ = fs::current_path();
    root_ = ScratchRoot() / ("fault_matrix_" + std::to_string(getpid()) + "_" + name);
    fs::remove_all(root_);
    fs::create_directories(root_);
    fs::current_path(root_);
    const char* dataHome = getenv("XDG_DATA_HOME");
    hadDataHome_ = dataHome != nullptr;
    if (dataHome) previousDataHome_ = dataHome;
    setenv("XDG_DATA_HOME", (root_ / "data").c_str(), 1);
}

// A workspace made inside another (the clean run a scenario is measured
// against) hands the per-user data folder back to the outer one.
Workspace::~Workspace() {
    if (hadDataHome_) {
        setenv("XDG_DATA_HOME", previousDataHome_.c_str(), 1);
    } else {
        unsetenv("XDG_DATA_HOME");
    }
    fs::current_path(previous_);
    std::error_code ignored;
    fs::remove_all(root_, ignored);
}

}  // namespace matrix

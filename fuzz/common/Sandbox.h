// A private folder per fuzz process. Every place the code under test may
// write or look for its files (per-user data and state, the register of
// modules, the lock backup a target names) points into it, so nothing
// outside is read or written. The current folder stays where it is, so
// corpus folders given to libFuzzer by relative path keep working.
//
// The folder lies in memory (/dev/shm) where there is such a place: a target
// that makes and removes files for every input spends most of its time in a
// disk file system's journal otherwise. $FWUP_FUZZ_TMPDIR names another place.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

#include <stdlib.h>
#include <unistd.h>


namespace fuzz {

class Sandbox {
public:
    static Sandbox& Get() {
        static Sandbox* const sandbox = new Sandbox();
        return *sandbox;
    }
    const std::filesystem::path& Root() const { return root_; }
    // An empty folder below the root, made anew.
    std::filesystem::path Fresh(const std::string& name) const {
        const std::filesystem::path folder = root_ / name;
        std::error_code ignored;
        std::filesystem::remove_all(folder, ignored);
        std::filesystem::create_directories(folder, ignored);
        return folder;
    }

private:
    Sandbox() {
        std::string pattern = (Parent() / "fwup-fuzz-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) {
            std::abort();
        }
        root_ = pattern;
        for (const char* name : {"data", "state", "config", "registry", "work"}) {
            std::filesystem::create_directories(root_ / name);
        }
        ::setenv("XDG_DATA_HOME", (root_ / "data").c_str(), 1);
        ::setenv("XDG_STATE_HOME", (root_ / "state").c_str(), 1);
        ::setenv("XDG_CONFIG_HOME", (root_ / "config").c_str(), 1);
        ::setenv("FWUPGRADE_REGISTRY_ROOT", (root_ / "registry").c_str(), 1);
        ::setenv("FWUPGRADE_PORT_PATTERN", (root_ / "no-such-port-%d").c_str(), 1);
        ::setenv("HOME", root_.c_str(), 1);
        std::atexit([] {
            std::error_code ignored;
            std::filesystem::remove_all(Get().root_, ignored);
        });
    }
    static std::filesystem::path Parent() {
        if (const char* chosen = std::getenv("FWUP_FUZZ_TMPDIR"); chosen != nullptr && *chosen != '\0') {
            return chosen;
        }
        if (::access("/dev/shm", W_OK | X_OK) == 0) {
            return "/dev/shm";
        }
        return std::filesystem::temp_directory_path();
    }
    std::filesystem::path root_;
};

}  // namespace fuzz

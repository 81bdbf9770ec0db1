// A scratch folder for one scenario that is also the current folder (the
// lock backup lands there) and the per-user data folder (the kept backups).
#pragma once

#include <filesystem>
#include <string>

namespace matrix {

class Workspace {
public:
    explicit Workspace(const std::string& name);
    ~Workspace();
    Workspace(const Workspace&) = delete;
    Workspace& operator=(const Workspace&) = delete;

    std::filesystem::path Root() const { return root_; }
    std::string Package() const { return (root_ / "package").string(); }

private:
    std::filesystem::path root_;
    std::filesystem::path previous_;
    std::string previousDataHome_;
    bool hadDataHome_ = false;
};

}  // namespace matrix

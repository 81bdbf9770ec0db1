// The real file system with a look at each rename before it is made (for
// tests): a test stops a run there, e.g. by killing the process.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/Platform.h"

namespace test_support {

class RenameWatch : public platform::FileSystem {
public:
    // Called with the number of the rename (from 1) and its target.
    using BeforeRename = std::function<void(uint32_t, const std::u16string&)>;

    RenameWatch() : real_(platform::MakeDefaultFileSystem()) {}
    void Watch(BeforeRename before) {
        before_ = std::move(before);
        renames_ = 0;
    }
    uint32_t Renames() const { return renames_; }

    std::unique_ptr<platform::FileHandle> OpenRead(const std::u16string& path) override { return real_->OpenRead(path); }
    std::unique_ptr<platform::FileHandle> CreateWrite(const std::u16string& path) override {
        return real_->CreateWrite(path);
    }
    bool CreateDirectory(const std::u16string& path) override { return real_->CreateDirectory(path); }
    bool PathExists(const std::u16string& path) override { return real_->PathExists(path); }
    bool RemoveFile(const std::u16string& path) override { return real_->RemoveFile(path); }
    bool ReplaceFile(const std::u16string& source, const std::u16string& target) override {
        ++renames_;
        if (before_) before_(renames_, target);
        return real_->ReplaceFile(source, target);
    }
    std::vector<std::u16string> ListFolder(const std::u16string& folder) override { return real_->ListFolder(folder); }
    bool SyncFolder(const std::u16string& folder) override { return real_->SyncFolder(folder); }

private:
    std::unique_ptr<platform::FileSystem> real_;
    BeforeRename before_;
    uint32_t renames_ = 0;
};

}  // namespace test_support

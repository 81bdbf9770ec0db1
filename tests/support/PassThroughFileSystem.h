// The real file system with every call passed on (for tests): a test file
// system derives from it and overrides only the calls it watches or fails.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/Platform.h"

namespace test_support {

class PassThroughFileSystem : public platform::FileSystem {
public:
    PassThroughFileSystem() : real_(platform::MakeDefaultFileSystem()) {}

    std::unique_ptr<platform::FileHandle> OpenRead(const std::u16string& path) override { return real_->OpenRead(path); }
    std::unique_ptr<platform::FileHandle> CreateWrite(const std::u16string& path) override {
        return real_->CreateWrite(path);
    }
    bool CreateDirectory(const std::u16string& path) override { return real_->CreateDirectory(path); }
    bool PathExists(const std::u16string& path) override { return real_->PathExists(path); }
    bool RemoveFile(const std::u16string& path) override { return real_->RemoveFile(path); }
    bool ReplaceFile(const std::u16string& source, const std::u16string& target) override {
        return real_->ReplaceFile(source, target);
    }
    std::vector<std::u16string> ListFolder(const std::u16string& folder) override { return real_->ListFolder(folder); }
    bool SyncFolder(const std::u16string& folder) override { return real_->SyncFolder(folder); }

protected:
    platform::FileSystem& Real() { return *real_; }

private:
    std::unique_ptr<platform::FileSystem> real_;
};

}  // namespace test_support

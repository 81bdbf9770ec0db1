// A file system for tests: the real one, except that below one folder a
// new file fails with a chosen errno, or takes only so many bytes before it
// fails with ENOSPC, as on a read-only or a full disk. Installed for its lifetime
// through the platform's file system seam.
#pragma once

#include <algorithm>
#include <cerrno>
#include <memory>
#include <string>
#include <vector>

#include "platform/Platform.h"
#include "tests/support/PassThroughFileSystem.h"

namespace fwupgrade {

// A file that takes `room` bytes, then fails as a full disk does.
class FillingFile : public platform::FileHandle {
public:
    FillingFile(std::unique_ptr<platform::FileHandle> real, uint64_t room) : real_(std::move(real)), room_(room) {}
    uint64_t Length() override { return real_->Length(); }
    bool Seek(uint64_t offset) override { return real_->Seek(offset); }
    uint32_t Read(uint8_t* buffer, uint32_t count) override { return real_->Read(buffer, count); }
    uint32_t Write(const uint8_t* data, uint32_t count) override {
        const uint32_t fits = static_cast<uint32_t>(std::min<uint64_t>(count, room_));
        const uint32_t put = real_->Write(data, fits);
        room_ -= put;
        if (put < count) errno = ENOSPC;
        return put;
    }
    bool Flush() override { return real_->Flush(); }

private:
    std::unique_ptr<platform::FileHandle> real_;
    uint64_t room_;
};

// The real file system, except that below `folder` a new file fails with
// `error`, or (with error 0) the disk fills after `room` bytes.
class FailingFileSystem : public test_support::PassThroughFileSystem {
public:
    FailingFileSystem(std::string folder, int error, uint64_t room = 0)
        : folder_(platform::Utf8ToWide(folder + "/")), error_(error),
          room_(room) {
        platform::SetFileSystem(this);
    }
    ~FailingFileSystem() override { platform::SetFileSystem(nullptr); }
    std::unique_ptr<platform::FileHandle> CreateWrite(const std::u16string& path) override {
        if (path.rfind(folder_, 0) != 0) return Real().CreateWrite(path);
        if (error_ != 0) {
            errno = error_;
            return nullptr;
        }
        auto file = Real().CreateWrite(path);
        return file ? std::make_unique<FillingFile>(std::move(file), room_) : nullptr;
    }

private:
    std::u16string folder_;
    int error_;
    uint64_t room_;
};

}  // namespace fwupgrade

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <memory>

#include "platform/DataFolder.h"
#include "platform/Platform.h"
#include "platform/posix/PathText.h"

namespace platform {

namespace {

// POSIX has no share modes: "writing by others denied" is not enforced.
class PosixFile : public FileHandle {
public:
    explicit PosixFile(int fd) : fd_(fd) {}
    ~PosixFile() override { ::close(fd_); }
    PosixFile(const PosixFile&) = delete;
    PosixFile& operator=(const PosixFile&) = delete;

    uint64_t Length() override {
        struct stat info {};
        return ::fstat(fd_, &info) == 0 ? static_cast<uint64_t>(info.st_size) : 0;
    }
    bool Seek(uint64_t offset) override {
        return ::lseek(fd_, static_cast<off_t>(offset), SEEK_SET) != static_cast<off_t>(-1);
    }
    uint32_t Read(uint8_t* buffer, uint32_t count) override {
        uint32_t total = 0;
        while (total < count) {
            const ssize_t got = ::read(fd_, buffer + total, count - total);
            if (got < 0 && errno == EINTR) continue;
            if (got <= 0) break;
            total += static_cast<uint32_t>(got);
        }
        return total;
    }
    uint32_t Write(const uint8_t* data, uint32_t count) override {
        uint32_t total = 0;
        while (total < count) {
            const ssize_t put = ::write(fd_, data + total, count - total);
            if (put < 0 && errno == EINTR) continue;
            if (put <= 0) break;
            total += static_cast<uint32_t>(put);
        }
        return total;
    }
    bool Flush() override { return ::fsync(fd_) == 0; }

private:
    int fd_;
};

class PosixFileSystem : public FileSystem {
public:
    std::unique_ptr<FileHandle> OpenRead(const std::u16string& path) override {
        const int fd = ::open(posix::NativePath(path).c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) return nullptr;
        struct stat info {};
        if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
            ::close(fd);
            return nullptr;
        }
        return std::make_unique<PosixFile>(fd);
    }
    std::unique_ptr<FileHandle> CreateWrite(const std::u16string& path) override {
        const int fd = ::open(posix::NativePath(path).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (fd < 0) return nullptr;
        return std::make_unique<PosixFile>(fd);
    }
    bool CreateDirectory(const std::u16string& path) override {
        return !path.empty() && ::mkdir(posix::NativePath(path).c_str(), 0755) == 0;
    }
    bool PathExists(const std::u16string& path) override {
        struct stat info {};
        return !path.empty() && ::stat(posix::NativePath(path).c_str(), &info) == 0;
    }
    bool RemoveFile(const std::u16string& path) override { return ::unlink(posix::NativePath(path).c_str()) == 0; }
    bool ReplaceFile(const std::u16string& source, const std::u16string& target) override {
        return ::rename(posix::NativePath(source).c_str(), posix::NativePath(target).c_str()) == 0;
    }
    std::vector<std::u16string> ListFolder(const std::u16string& folder) override;
    bool SyncFolder(const std::u16string& folder) override;
};

std::vector<std::u16string> PosixFileSystem::ListFolder(const std::u16string& folder) {
    std::vector<std::u16string> names;
    DIR* dir = ::opendir(posix::NativePath(folder).c_str());
    if (dir == nullptr) {
        return names;
    }
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..") {
            names.push_back(posix::WidePath(name));
        }
    }
    ::closedir(dir);
    return names;
}

bool PosixFileSystem::SyncFolder(const std::u16string& folder) {
    const int fd = ::open(posix::NativePath(folder.empty() ? u"." : folder).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    // A file system that cannot sync a folder at all (EINVAL) keeps its
    // entries as durable as it can; any other failure may lose them.
    const bool synced = ::fsync(fd) == 0 || errno == EINVAL;
    ::close(fd);
    return synced;
}

}  // namespace

std::unique_ptr<FileSystem> MakeDefaultFileSystem() { return std::make_unique<PosixFileSystem>(); }

std::u16string RemoveFileSpec(const std::u16string& path) {
    const size_t last = path.find_last_of(u'/');
    if (last == std::u16string::npos) {
        return {};
    }
    if (last == 0) {
        return u"/";
    }
    return path.substr(0, last);
}

char16_t PathSeparator() { return u'/'; }

std::u16string CurrentFolder() {
    std::string buffer(4096, '\0');
    if (::getcwd(buffer.data(), buffer.size()) == nullptr) {
        return {};
    }
    buffer.resize(std::char_traits<char>::length(buffer.c_str()));
    return posix::WidePath(buffer);
}

std::u16string UserDataFolder() {
    if (const std::u16string& chosen = ChosenUserDataFolder(); !chosen.empty()) return chosen;
    std::string base;
    if (const char* data = std::getenv("XDG_DATA_HOME"); data != nullptr && *data == '/') {
        base = data;
    } else if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') {
        base = std::string(home) + "/.local/share";
    } else {
        base = "/tmp";
    }
    const std::u16string folder = posix::WidePath(base + "/fwupgrade");
    (void)CreateDurableFolders(folder);   // a folder that cannot be made fails each write into it
    return folder;
}

namespace posix {

bool MakeFolders(const std::string& path) {
    if (path.empty()) {
        return false;
    }
    for (size_t slash = path.find('/', 1); slash != std::string::npos; slash = path.find('/', slash + 1)) {
        ::mkdir(path.substr(0, slash).c_str(), 0755);
    }
    ::mkdir(path.c_str(), 0755);
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

}  // namespace posix

}  // namespace platform

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "platform/DataFolder.h"
#include "platform/Platform.h"
#include "platform/posix/PathText.h"

namespace platform {

File::~File() { Close(); }

File::File(File&& other) noexcept : handle_(other.handle_) { other.handle_ = -1; }

File& File::operator=(File&& other) noexcept {
    if (this != &other) {
        Close();
        handle_ = other.handle_;
        other.handle_ = -1;
    }
    return *this;
}

// POSIX has no share modes: "writing by others denied" is not enforced.
bool File::OpenRead(const std::u16string& path) {
    Close();
    const int fd = ::open(posix::NativePath(path).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        return false;
    }
    handle_ = fd;
    return true;
}

bool File::CreateWrite(const std::u16string& path) {
    Close();
    const int fd = ::open(posix::NativePath(path).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        return false;
    }
    handle_ = fd;
    return true;
}

bool File::IsOpen() const { return handle_ >= 0; }

void File::Close() {
    if (handle_ >= 0) {
        ::close(static_cast<int>(handle_));
        handle_ = -1;
    }
}

uint64_t File::Length() {
    struct stat info {};
    if (handle_ < 0 || ::fstat(static_cast<int>(handle_), &info) != 0) {
        return 0;
    }
    return static_cast<uint64_t>(info.st_size);
}

bool File::Seek(uint64_t offset) {
    if (handle_ < 0) {
        return false;
    }
    return ::lseek(static_cast<int>(handle_), static_cast<off_t>(offset), SEEK_SET) != static_cast<off_t>(-1);
}

uint32_t File::Read(uint8_t* buffer, uint32_t count) {
    if (handle_ < 0 || buffer == nullptr) {
        return 0;
    }
    uint32_t total = 0;
    while (total < count) {
        const ssize_t got = ::read(static_cast<int>(handle_), buffer + total, count - total);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            break;
        }
        total += static_cast<uint32_t>(got);
    }
    return total;
}

uint32_t File::Write(const uint8_t* data, uint32_t count) {
    if (handle_ < 0 || data == nullptr) {
        return 0;
    }
    uint32_t total = 0;
    while (total < count) {
        const ssize_t put = ::write(static_cast<int>(handle_), data + total, count - total);
        if (put < 0 && errno == EINTR) {
            continue;
        }
        if (put <= 0) {
            break;
        }
        total += static_cast<uint32_t>(put);
    }
    return total;
}

bool File::Flush() { return handle_ >= 0 && ::fsync(static_cast<int>(handle_)) == 0; }

bool CreateDirectory(const std::u16string& path) {
    return !path.empty() && ::mkdir(posix::NativePath(path).c_str(), 0755) == 0;
}

bool PathExists(const std::u16string& path) {
    struct stat info {};
    return !path.empty() && ::stat(posix::NativePath(path).c_str(), &info) == 0;
}

bool RemoveFile(const std::u16string& path) { return ::unlink(posix::NativePath(path).c_str()) == 0; }

bool ReplaceFile(const std::u16string& source, const std::u16string& target) {
    return ::rename(posix::NativePath(source).c_str(), posix::NativePath(target).c_str()) == 0;
}

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

std::vector<std::u16string> ListFolder(const std::u16string& folder) {
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

bool SyncFolder(const std::u16string& folder) {
    const int fd = ::open(posix::NativePath(folder.empty() ? u"." : folder).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    const bool synced = ::fsync(fd) == 0;
    ::close(fd);
    return synced;
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
    const std::string folder = base + "/fwupgrade";
    posix::MakeFolders(folder);
    return posix::WidePath(folder);
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

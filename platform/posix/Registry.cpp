// The registry under HKEY_CURRENT_USER as a folder tree: a key is a folder,
// a value is a file holding exactly its bytes. The root is
// $FWUPGRADE_REGISTRY_ROOT, else $XDG_CONFIG_HOME, else ~/.config.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <vector>

#include "platform/Platform.h"
#include "platform/posix/PathText.h"

namespace platform {

struct RegistryKeyImpl {
    std::string folder;
};

namespace {

std::string RegistryRoot() {
    if (const char* root = std::getenv("FWUPGRADE_REGISTRY_ROOT"); root != nullptr && *root != '\0') {
        return root;
    }
    if (const char* config = std::getenv("XDG_CONFIG_HOME"); config != nullptr && *config == '/') {
        return config;
    }
    if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') {
        return std::string(home) + "/.config";
    }
    return {};
}

// A key or value name must stay one folder entry: no '/', no NUL, not "."/"..".
bool SafeName(const std::string& name) {
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos &&
           name.find('\0') == std::string::npos;
}

bool IsFolder(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// Splits "a\\b\\c" into its parts; false when a part is not a safe name.
bool SplitKeyPath(const std::u16string& path, std::vector<std::string>& parts) {
    std::u16string part;
    auto flush = [&]() {
        if (part.empty()) {
            return true;   // tolerate doubled or trailing separators
        }
        const std::string name = posix::NativePath(part);
        part.clear();
        if (!SafeName(name)) {
            return false;
        }
        parts.push_back(name);
        return true;
    };
    for (char16_t unit : path) {
        if (unit == u'\\') {
            if (!flush()) {
                return false;
            }
        } else {
            part.push_back(unit);
        }
    }
    return flush();
}

std::string BaseFolder(RegistryKey parent) {
    return parent != nullptr ? parent->folder : RegistryRoot();
}

RegistryKey OpenOrCreate(RegistryKey parent, const std::u16string& path, bool create) {
    std::string folder = BaseFolder(parent);
    if (folder.empty()) {
        return nullptr;
    }
    std::vector<std::string> parts;
    if (!SplitKeyPath(path, parts)) {
        return nullptr;
    }
    if (create && parent == nullptr && !posix::MakeFolders(folder)) {
        return nullptr;
    }
    for (const std::string& part : parts) {
        folder += "/" + part;
        if (create && ::mkdir(folder.c_str(), 0755) != 0 && errno != EEXIST) {
            return nullptr;
        }
    }
    if (!IsFolder(folder)) {
        return nullptr;
    }
    return new RegistryKeyImpl{folder};
}

std::vector<std::string> SubFolders(const std::string& folder) {
    std::vector<std::string> names;
    DIR* dir = ::opendir(folder.c_str());
    if (dir == nullptr) {
        return names;
    }
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name != "." && name != ".." && IsFolder(folder + "/" + name)) {
            names.push_back(name);
        }
    }
    ::closedir(dir);
    std::sort(names.begin(), names.end());
    return names;
}

std::string ValueFile(RegistryKey key, const std::u16string& valueName) {
    const std::string name = posix::NativePath(valueName);
    if (key == nullptr || !SafeName(name)) {
        return {};
    }
    return key->folder + "/" + name;
}

}  // namespace

RegistryKey RegCreateKey(RegistryKey parent, const std::u16string& path) { return OpenOrCreate(parent, path, true); }

RegistryKey RegOpenKey(RegistryKey parent, const std::u16string& path) { return OpenOrCreate(parent, path, false); }

void RegCloseKey(RegistryKey key) { delete key; }

bool RegSetString(RegistryKey key, const std::u16string& valueName, const char16_t* data, uint32_t byteCount) {
    const std::string file = ValueFile(key, valueName);
    if (file.empty() || (data == nullptr && byteCount != 0) || IsFolder(file)) {
        return false;
    }
    // Written beside the value and renamed over it, so a reader never sees half a value.
    const std::string temporary = file + ".new";
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        return false;
    }
    const char* bytes = reinterpret_cast<const char*>(data);
    uint32_t done = 0;
    while (done < byteCount) {
        const ssize_t put = ::write(fd, bytes + done, byteCount - done);
        if (put < 0 && errno == EINTR) {
            continue;
        }
        if (put <= 0) {
            break;
        }
        done += static_cast<uint32_t>(put);
    }
    const bool written = ::close(fd) == 0 && done == byteCount;
    if (!written || ::rename(temporary.c_str(), file.c_str()) != 0) {
        ::unlink(temporary.c_str());
        return false;
    }
    return true;
}

bool RegQueryValueSize(RegistryKey key, const std::u16string& valueName, uint32_t& byteCount) {
    const std::string file = ValueFile(key, valueName);
    struct stat info {};
    if (file.empty() || ::stat(file.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
        return false;
    }
    const auto size = static_cast<uint64_t>(info.st_size);
    byteCount = size > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<uint32_t>(size);
    return true;
}

bool RegQueryString(RegistryKey key, const std::u16string& valueName, char16_t* buffer, uint32_t& byteCount) {
    const std::string file = ValueFile(key, valueName);
    if (file.empty() || (buffer == nullptr && byteCount != 0)) {
        return false;
    }
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    char* bytes = reinterpret_cast<char*>(buffer);
    uint32_t done = 0;
    bool ok = true;
    while (done < byteCount) {
        const ssize_t got = ::read(fd, bytes + done, byteCount - done);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            ok = false;
        }
        if (got <= 0) {
            break;
        }
        done += static_cast<uint32_t>(got);
    }
    ::close(fd);
    byteCount = done;
    return ok;
}

bool RegDeleteKey(RegistryKey parent, const std::u16string& subKey) {
    const std::string base = BaseFolder(parent);
    std::vector<std::string> parts;
    if (base.empty() || !SplitKeyPath(subKey, parts) || parts.empty()) {
        return false;
    }
    std::string folder = base;
    for (const std::string& part : parts) {
        folder += "/" + part;
    }
    if (!IsFolder(folder) || !SubFolders(folder).empty()) {
        return false;
    }
    // The key's values go with it.
    if (DIR* dir = ::opendir(folder.c_str())) {
        std::vector<std::string> values;
        while (const dirent* entry = ::readdir(dir)) {
            const std::string name = entry->d_name;
            if (name != "." && name != "..") {
                values.push_back(folder + "/" + name);
            }
        }
        ::closedir(dir);
        for (const std::string& value : values) {
            ::unlink(value.c_str());
        }
    }
    return ::rmdir(folder.c_str()) == 0;
}

bool RegEnumKey(RegistryKey key, uint32_t index, std::u16string& name) {
    if (key == nullptr) {
        return false;
    }
    const std::vector<std::string> names = SubFolders(key->folder);
    if (index >= names.size()) {
        return false;
    }
    name = posix::WidePath(names[index]);
    return true;
}

}  // namespace platform

// Files and folders through the Win32 file API.
//
// A file opened for reading lets others read it but not write it; a file
// created for writing is truncated and lets others only read.
#include <cstdlib>
#include <cwchar>
#include <memory>

#include "platform/DataFolder.h"
#include "platform/win32/WinApi.h"

namespace platform {

namespace {

bool IsSeparator(char16_t c) { return c == u'\\' || c == u'/'; }

std::u16string Environment(const wchar_t* name) {
    wchar_t buffer[MAX_PATH + 1] = {};
    const DWORD length = ::GetEnvironmentVariableW(name, buffer, MAX_PATH + 1);
    if (length == 0 || length > MAX_PATH) return {};
    return win32::FromWide(buffer, length);
}

class WindowsFile : public FileHandle {
public:
    explicit WindowsFile(HANDLE handle) : handle_(handle) {}
    ~WindowsFile() override { ::CloseHandle(handle_); }
    WindowsFile(const WindowsFile&) = delete;
    WindowsFile& operator=(const WindowsFile&) = delete;

    uint64_t Length() override {
        LARGE_INTEGER size{};
        if (!::GetFileSizeEx(handle_, &size)) return 0;
        return static_cast<uint64_t>(size.QuadPart);
    }
    bool Seek(uint64_t offset) override {
        if (offset > static_cast<uint64_t>(INT64_MAX)) return false;
        LARGE_INTEGER position{};
        position.QuadPart = static_cast<LONGLONG>(offset);
        return ::SetFilePointerEx(handle_, position, nullptr, FILE_BEGIN) != FALSE;
    }
    uint32_t Read(uint8_t* buffer, uint32_t count) override {
        uint32_t total = 0;
        while (total < count) {
            DWORD done = 0;
            if (!::ReadFile(handle_, buffer + total, count - total, &done, nullptr) || done == 0) break;
            total += done;
        }
        return total;
    }
    uint32_t Write(const uint8_t* data, uint32_t count) override {
        uint32_t total = 0;
        while (total < count) {
            DWORD done = 0;
            if (!::WriteFile(handle_, data + total, count - total, &done, nullptr) || done == 0) break;
            total += done;
        }
        return total;
    }
    bool Flush() override { return ::FlushFileBuffers(handle_) != FALSE; }

private:
    HANDLE handle_;
};

std::unique_ptr<FileHandle> OpenFile(const std::u16string& path, DWORD access, DWORD disposition) {
    HANDLE handle = ::CreateFileW(win32::Wide(path), access, FILE_SHARE_READ, nullptr, disposition,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return nullptr;
    return std::make_unique<WindowsFile>(handle);
}

class WindowsFileSystem : public FileSystem {
public:
    std::unique_ptr<FileHandle> OpenRead(const std::u16string& path) override {
        return OpenFile(path, GENERIC_READ, OPEN_EXISTING);
    }
    std::unique_ptr<FileHandle> CreateWrite(const std::u16string& path) override {
        return OpenFile(path, GENERIC_WRITE, CREATE_ALWAYS);
    }
    bool CreateDirectory(const std::u16string& path) override {
        return ::CreateDirectoryW(win32::Wide(path), nullptr) != FALSE;
    }
    bool PathExists(const std::u16string& path) override;
    bool RemoveFile(const std::u16string& path) override { return ::DeleteFileW(win32::Wide(path)) != FALSE; }
    bool ReplaceFile(const std::u16string& source, const std::u16string& target) override {
        return ::MoveFileExW(win32::Wide(source), win32::Wide(target),
                             MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != FALSE;
    }
    std::vector<std::u16string> ListFolder(const std::u16string& folder) override;
    // MoveFileExW with MOVEFILE_WRITE_THROUGH has made a rename durable
    // already, and NTFS journals a new folder's entry: nothing is left to do.
    bool SyncFolder(const std::u16string&) override { return true; }
};

bool WindowsFileSystem::PathExists(const std::u16string& path) {
    // FindFirstFileW takes wildcards; a name holding one would match other
    // files, and no file is ever called that.
    if (path.empty() || path.find_first_of(u"*?") != std::u16string::npos) return false;
    WIN32_FIND_DATAW found{};
    HANDLE search = ::FindFirstFileW(win32::Wide(path), &found);
    if (search == INVALID_HANDLE_VALUE) return false;
    ::FindClose(search);
    return true;
}

std::vector<std::u16string> WindowsFileSystem::ListFolder(const std::u16string& folder) {
    std::vector<std::u16string> names;
    if (folder.empty() || folder.find_first_of(u"*?") != std::u16string::npos) return names;
    WIN32_FIND_DATAW found{};
    HANDLE search = ::FindFirstFileW(win32::Wide(folder + u"\\*"), &found);
    if (search == INVALID_HANDLE_VALUE) return names;
    do {
        const std::u16string name = win32::FromWide(found.cFileName, std::wcslen(found.cFileName));
        if (name != u"." && name != u"..") names.push_back(name);
    } while (::FindNextFileW(search, &found));
    ::FindClose(search);
    return names;
}

}  // namespace

std::unique_ptr<FileSystem> MakeDefaultFileSystem() { return std::make_unique<WindowsFileSystem>(); }

std::u16string RemoveFileSpec(const std::u16string& path) {
    for (size_t i = path.size(); i > 0; --i) {
        if (IsSeparator(path[i - 1])) return path.substr(0, i - 1);
    }
    return {};
}

char16_t PathSeparator() { return u'\\'; }

std::u16string CurrentFolder() {
    wchar_t buffer[MAX_PATH + 1] = {};
    const DWORD length = ::GetCurrentDirectoryW(MAX_PATH + 1, buffer);
    if (length == 0 || length > MAX_PATH) return {};
    return win32::FromWide(buffer, length);
}

std::u16string UserDataFolder() {
    if (const std::u16string& chosen = ChosenUserDataFolder(); !chosen.empty()) return chosen;
    std::u16string base = Environment(L"LOCALAPPDATA");
    if (base.empty()) base = Environment(L"APPDATA");
    if (base.empty()) {
        wchar_t temp[MAX_PATH + 1] = {};
        const DWORD length = ::GetTempPathW(MAX_PATH + 1, temp);
        if (length == 0 || length > MAX_PATH) return {};
        base = RemoveFileSpec(win32::FromWide(temp, length));
    }
    const std::u16string folder = base + u"\\fwupgrade";
    if (!PathExists(folder)) (void)CreateDurableDirectory(folder);   // a missing folder fails each write into it
    return folder;
}

}  // namespace platform

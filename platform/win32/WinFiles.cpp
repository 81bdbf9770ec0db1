// Files and folders through the Win32 file API.
//
// A file opened for reading lets others read it but not write it; a file
// created for writing is truncated and lets others only read.
#include <cstdlib>
#include <cwchar>

#include "platform/DataFolder.h"
#include "platform/win32/WinApi.h"

namespace platform {

namespace {

HANDLE Native(intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }
intptr_t Stored(HANDLE handle) { return reinterpret_cast<intptr_t>(handle); }
const intptr_t kClosed = Stored(INVALID_HANDLE_VALUE);

bool IsSeparator(char16_t c) { return c == u'\\' || c == u'/'; }

std::u16string Environment(const wchar_t* name) {
    wchar_t buffer[MAX_PATH + 1] = {};
    const DWORD length = ::GetEnvironmentVariableW(name, buffer, MAX_PATH + 1);
    if (length == 0 || length > MAX_PATH) return {};
    return win32::FromWide(buffer, length);
}

}  // namespace

File::~File() { Close(); }

File::File(File&& other) noexcept : handle_(other.handle_) { other.handle_ = kClosed; }

File& File::operator=(File&& other) noexcept {
    if (this != &other) {
        Close();
        handle_ = other.handle_;
        other.handle_ = kClosed;
    }
    return *this;
}

bool File::OpenRead(const std::u16string& path) {
    Close();
    HANDLE handle = ::CreateFileW(win32::Wide(path), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
    handle_ = Stored(handle);
    return IsOpen();
}

bool File::CreateWrite(const std::u16string& path) {
    Close();
    HANDLE handle = ::CreateFileW(win32::Wide(path), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
    handle_ = Stored(handle);
    return IsOpen();
}

bool File::IsOpen() const { return handle_ != kClosed; }

void File::Close() {
    if (IsOpen()) ::CloseHandle(Native(handle_));
    handle_ = kClosed;
}

uint64_t File::Length() {
    LARGE_INTEGER size{};
    if (!IsOpen() || !::GetFileSizeEx(Native(handle_), &size)) return 0;
    return static_cast<uint64_t>(size.QuadPart);
}

bool File::Seek(uint64_t offset) {
    if (!IsOpen() || offset > static_cast<uint64_t>(INT64_MAX)) return false;
    LARGE_INTEGER position{};
    position.QuadPart = static_cast<LONGLONG>(offset);
    return ::SetFilePointerEx(Native(handle_), position, nullptr, FILE_BEGIN) != FALSE;
}

uint32_t File::Read(uint8_t* buffer, uint32_t count) {
    if (!IsOpen() || buffer == nullptr) return 0;
    uint32_t total = 0;
    while (total < count) {
        DWORD done = 0;
        if (!::ReadFile(Native(handle_), buffer + total, count - total, &done, nullptr) || done == 0) break;
        total += done;
    }
    return total;
}

uint32_t File::Write(const uint8_t* data, uint32_t count) {
    if (!IsOpen() || data == nullptr) return 0;
    uint32_t total = 0;
    while (total < count) {
        DWORD done = 0;
        if (!::WriteFile(Native(handle_), data + total, count - total, &done, nullptr) || done == 0) break;
        total += done;
    }
    return total;
}

bool File::Flush() { return IsOpen() && ::FlushFileBuffers(Native(handle_)) != FALSE; }

bool CreateDirectory(const std::u16string& path) { return ::CreateDirectoryW(win32::Wide(path), nullptr) != FALSE; }

bool PathExists(const std::u16string& path) {
    // FindFirstFileW takes wildcards; a name holding one would match other
    // files, and no file is ever called that.
    if (path.empty() || path.find_first_of(u"*?") != std::u16string::npos) return false;
    WIN32_FIND_DATAW found{};
    HANDLE search = ::FindFirstFileW(win32::Wide(path), &found);
    if (search == INVALID_HANDLE_VALUE) return false;
    ::FindClose(search);
    return true;
}

bool RemoveFile(const std::u16string& path) { return ::DeleteFileW(win32::Wide(path)) != FALSE; }

bool ReplaceFile(const std::u16string& source, const std::u16string& target) {
    return ::MoveFileExW(win32::Wide(source), win32::Wide(target), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) !=
           FALSE;
}

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

std::vector<std::u16string> ListFolder(const std::u16string& folder) {
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

// MoveFileExW with MOVEFILE_WRITE_THROUGH has made the rename durable already.
bool SyncFolder(const std::u16string&) { return true; }

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
    ::CreateDirectoryW(win32::Wide(folder), nullptr);
    return folder;
}

}  // namespace platform

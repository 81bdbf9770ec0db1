#include "tests/windows/WinTestSupport.h"

#include "platform/win32/WinApi.h"

namespace wintest {

namespace {

void RemoveTree(const std::u16string& folder) {
    WIN32_FIND_DATAW entry{};
    const std::u16string pattern = folder + u"\\*";
    HANDLE search = ::FindFirstFileW(platform::win32::Wide(pattern), &entry);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring name = entry.cFileName;
            if (name == L"." || name == L"..") continue;
            const std::u16string path = folder + u"\\" + platform::win32::FromWide(name.c_str(), name.size());
            if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                RemoveTree(path);
            } else {
                ::DeleteFileW(platform::win32::Wide(path));
            }
        } while (::FindNextFileW(search, &entry));
        ::FindClose(search);
    }
    ::RemoveDirectoryW(platform::win32::Wide(folder));
}

}  // namespace

std::u16string ProgramFolder() { return platform::RemoveFileSpec(platform::GetModuleFileName(nullptr)); }

std::u16string FreshFolder(const std::u16string& name) {
    const std::u16string scratch = ProgramFolder() + u"\\wintest-scratch";
    ::CreateDirectoryW(platform::win32::Wide(scratch), nullptr);
    const std::u16string folder = scratch + u"\\" + name;
    RemoveTree(folder);
    ::CreateDirectoryW(platform::win32::Wide(folder), nullptr);
    return folder;
}

bool WriteFile(const std::u16string& path, const std::vector<uint8_t>& bytes) {
    platform::File file;
    if (!file.CreateWrite(path)) return false;
    return file.Write(bytes.data(), static_cast<uint32_t>(bytes.size())) == bytes.size();
}

std::vector<uint8_t> ReadFile(const std::u16string& path) {
    platform::File file;
    if (!file.OpenRead(path)) return {};
    std::vector<uint8_t> bytes(static_cast<size_t>(file.Length()));
    const uint32_t got = file.Read(bytes.data(), static_cast<uint32_t>(bytes.size()));
    bytes.resize(got);
    return bytes;
}

std::u16string Lower(std::u16string text) {
    for (char16_t& c : text) {
        if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
    }
    return text;
}

std::u16string Wide(const std::string& ascii) { return std::u16string(ascii.begin(), ascii.end()); }

}  // namespace wintest

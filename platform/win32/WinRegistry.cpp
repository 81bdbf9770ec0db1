// Registry keys under HKEY_CURRENT_USER.
//
// A RegistryKey is the HKEY itself; nullptr stands for "not open" and, as a
// parent, for HKEY_CURRENT_USER.
#include <algorithm>
#include <vector>

#include "platform/win32/WinApi.h"

namespace platform {

namespace {

HKEY Native(RegistryKey key) { return reinterpret_cast<HKEY>(key); }
HKEY ParentOrUser(RegistryKey parent) { return parent != nullptr ? Native(parent) : HKEY_CURRENT_USER; }
RegistryKey Wrap(HKEY key) { return reinterpret_cast<RegistryKey>(key); }

// Longest key name the registry allows, plus the terminator.
constexpr DWORD kMaxKeyName = 256;

}  // namespace

RegistryKey RegCreateKey(RegistryKey parent, const std::u16string& path) {
    HKEY key = nullptr;
    const LONG status = ::RegCreateKeyExW(ParentOrUser(parent), win32::Wide(path), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                          KEY_ALL_ACCESS, nullptr, &key, nullptr);
    return status == ERROR_SUCCESS ? Wrap(key) : nullptr;
}

RegistryKey RegOpenKey(RegistryKey parent, const std::u16string& path) {
    HKEY key = nullptr;
    const LONG status = ::RegOpenKeyExW(ParentOrUser(parent), win32::Wide(path), 0, KEY_ALL_ACCESS, &key);
    return status == ERROR_SUCCESS ? Wrap(key) : nullptr;
}

void RegCloseKey(RegistryKey key) {
    if (key != nullptr) ::RegCloseKey(Native(key));
}

bool RegSetString(RegistryKey key, const std::u16string& valueName, const char16_t* data, uint32_t byteCount) {
    if (key == nullptr || (data == nullptr && byteCount != 0)) return false;
    // RegSetValueExW counts a terminator the caller left out when one follows
    // the data in memory. The value must hold exactly the bytes given, so the
    // data is copied in front of a unit that is not a terminator.
    std::vector<BYTE> bytes(static_cast<size_t>(byteCount) + 2, 0xFF);
    if (byteCount != 0) std::copy_n(reinterpret_cast<const BYTE*>(data), byteCount, bytes.data());
    return ::RegSetValueExW(Native(key), win32::Wide(valueName), 0, REG_SZ, bytes.data(), byteCount) == ERROR_SUCCESS;
}

bool RegQueryValueSize(RegistryKey key, const std::u16string& valueName, uint32_t& byteCount) {
    if (key == nullptr) return false;
    DWORD size = 0;
    if (::RegQueryValueExW(Native(key), win32::Wide(valueName), nullptr, nullptr, nullptr, &size) != ERROR_SUCCESS) {
        return false;
    }
    byteCount = size;
    return true;
}

bool RegQueryString(RegistryKey key, const std::u16string& valueName, char16_t* buffer, uint32_t& byteCount) {
    if (key == nullptr || buffer == nullptr) return false;
    uint32_t size = 0;
    if (!RegQueryValueSize(key, valueName, size)) return false;
    // Read the whole value, then hand over at most what the caller has room for.
    std::vector<BYTE> value(size > 0 ? size : 1);
    DWORD got = size;
    if (::RegQueryValueExW(Native(key), win32::Wide(valueName), nullptr, nullptr, value.data(), &got) != ERROR_SUCCESS) {
        return false;
    }
    const uint32_t copied = got < byteCount ? got : byteCount;
    std::copy_n(value.data(), copied, reinterpret_cast<BYTE*>(buffer));
    byteCount = copied;
    return true;
}

bool RegDeleteKey(RegistryKey parent, const std::u16string& subKey) {
    // An empty name would make RegDeleteKeyW delete the parent key itself.
    if (subKey.empty()) return false;
    // RegDeleteKeyW refuses a key that still has subkeys, which is the contract.
    return ::RegDeleteKeyW(ParentOrUser(parent), win32::Wide(subKey)) == ERROR_SUCCESS;
}

bool RegEnumKey(RegistryKey key, uint32_t index, std::u16string& name) {
    if (key == nullptr) return false;
    wchar_t buffer[kMaxKeyName] = {};
    DWORD length = kMaxKeyName;
    if (::RegEnumKeyExW(Native(key), index, buffer, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) {
        return false;
    }
    name = win32::FromWide(buffer, length);
    return true;
}

}  // namespace platform

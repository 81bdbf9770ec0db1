// Libraries and the module's own resources.
#include <vector>

#include "platform/win32/WinApi.h"

namespace platform {

namespace {

// Any object of this library: its address tells which module holds the code.
const char g_addressInThisModule = 0;

// LANG_CHINESE, SUBLANG_CHINESE_SIMPLIFIED: the language the resources are compiled with.
constexpr WORD kResourceLanguage = 2052;

}  // namespace

LibraryHandle LoadLibrary(const std::u16string& path) { return ::LoadLibraryW(win32::Wide(path)); }

void* GetProcAddress(LibraryHandle library, const char* name) {
    if (library == nullptr || name == nullptr) return nullptr;
    return reinterpret_cast<void*>(::GetProcAddress(static_cast<HMODULE>(library), name));
}

std::u16string GetModuleFileName(LibraryHandle library) {
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;) {
        const DWORD size = static_cast<DWORD>(buffer.size());
        const DWORD length = ::GetModuleFileNameW(static_cast<HMODULE>(library), buffer.data(), size);
        if (length == 0) return {};
        if (length < size) return win32::FromWide(buffer.data(), length);
        if (buffer.size() >= 32768) return {};
        buffer.resize(buffer.size() * 2);
    }
}

LibraryHandle OwnLibraryHandle() {
    HMODULE module = nullptr;
    const DWORD flags = GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT;
    if (!::GetModuleHandleExW(flags, reinterpret_cast<LPCWSTR>(&g_addressInThisModule), &module)) return nullptr;
    return module;
}

bool LoadOwnResource(const std::u16string& type, uint32_t id, const uint8_t*& data, uint32_t& size) {
    if (id > 0xFFFF) return false;
    HMODULE module = static_cast<HMODULE>(OwnLibraryHandle());
    if (module == nullptr) return false;
    const LPCWSTR name = MAKEINTRESOURCEW(id);
    HRSRC found = ::FindResourceExW(module, win32::Wide(type), name, kResourceLanguage);
    if (found == nullptr) found = ::FindResourceW(module, name, win32::Wide(type));
    if (found == nullptr) return false;
    HGLOBAL loaded = ::LoadResource(module, found);
    if (loaded == nullptr) return false;
    const void* bytes = ::LockResource(loaded);
    if (bytes == nullptr) return false;
    data = static_cast<const uint8_t*>(bytes);
    size = ::SizeofResource(module, found);
    return true;
}

// The DLL carries its resources in its resource section; nothing to register.
void RegisterEmbeddedResource(const std::u16string&, uint32_t, const uint8_t*, uint32_t) {}

}  // namespace platform

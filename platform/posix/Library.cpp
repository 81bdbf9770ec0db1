// Libraries through the dynamic loader, the embedded-resource table and the
// message box (stderr).
#include <dlfcn.h>
#include <link.h>
#include <unistd.h>

#include <cstdio>
#include <map>
#include <mutex>
#include <utility>

#include "platform/Platform.h"
#include "platform/posix/PathText.h"

namespace platform {

namespace {

std::string ExecutablePath() {
    char path[4096];
    const ssize_t length = ::readlink("/proc/self/exe", path, sizeof path - 1);
    if (length <= 0) {
        return {};
    }
    return std::string(path, static_cast<size_t>(length));
}

struct ResourceBytes {
    const uint8_t* data;
    uint32_t size;
};

std::mutex g_resourceMutex;
std::map<std::pair<std::u16string, uint32_t>, ResourceBytes>& Resources() {
    static auto* const table = new std::map<std::pair<std::u16string, uint32_t>, ResourceBytes>();
    return *table;
}

}  // namespace

LibraryHandle LoadLibrary(const std::u16string& path) {
    if (path.empty()) {
        return nullptr;
    }
    return ::dlopen(posix::NativePath(path).c_str(), RTLD_NOW | RTLD_LOCAL);
}

void* GetProcAddress(LibraryHandle library, const char* name) {
    if (library == nullptr || name == nullptr) {
        return nullptr;
    }
    return ::dlsym(library, name);
}

std::u16string GetModuleFileName(LibraryHandle library) {
    if (library != nullptr) {
        link_map* map = nullptr;
        if (::dlinfo(library, RTLD_DI_LINKMAP, &map) == 0 && map != nullptr && map->l_name != nullptr &&
            map->l_name[0] != '\0') {
            return posix::WidePath(map->l_name);
        }
    }
    // The main program has no name in its link map: it is /proc/self/exe.
    return posix::WidePath(ExecutablePath());
}

LibraryHandle OwnLibraryHandle() {
    Dl_info info{};
    if (::dladdr(reinterpret_cast<void*>(&OwnLibraryHandle), &info) == 0 || info.dli_fname == nullptr) {
        return nullptr;
    }
    // Code linked into the program itself: the program's handle.
    LibraryHandle handle = ::dlopen(info.dli_fname, RTLD_NOW | RTLD_NOLOAD);
    if (handle == nullptr) {
        return ::dlopen(nullptr, RTLD_NOW);
    }
    // RTLD_NOLOAD still counts a reference; the library stays loaded anyway
    // while its own code runs, so give that reference back.
    ::dlclose(handle);
    return handle;
}

bool LoadOwnResource(const std::u16string& type, uint32_t id, const uint8_t*& data, uint32_t& size) {
    std::lock_guard<std::mutex> lock(g_resourceMutex);
    const auto found = Resources().find({type, id});
    if (found == Resources().end()) {
        return false;
    }
    data = found->second.data;
    size = found->second.size;
    return true;
}

void RegisterEmbeddedResource(const std::u16string& type, uint32_t id, const uint8_t* data, uint32_t size) {
    std::lock_guard<std::mutex> lock(g_resourceMutex);
    Resources()[{type, id}] = ResourceBytes{data, size};
}

void ShowMessageBox(const std::u16string& text) {
    const std::string line = WideToUtf8(text);
    std::fprintf(stderr, "%s\n", line.c_str());
    std::fflush(stderr);
}

}  // namespace platform

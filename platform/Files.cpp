// The file system seam, and File and the file functions that go through it.
#include <atomic>

#include "platform/Platform.h"

namespace platform {

namespace {

std::atomic<FileSystem*> g_installedFileSystem{nullptr};

FileSystem& DefaultFileSystem() {
    // Created on first use and kept for the life of the process.
    static FileSystem* const fileSystem = MakeDefaultFileSystem().release();
    return *fileSystem;
}

bool IsSeparator(char16_t c) { return c == u'/' || c == u'\\'; }

}  // namespace

FileSystem& GetFileSystem() {
    FileSystem* installed = g_installedFileSystem.load(std::memory_order_acquire);
    return installed != nullptr ? *installed : DefaultFileSystem();
}

void SetFileSystem(FileSystem* fileSystem) { g_installedFileSystem.store(fileSystem, std::memory_order_release); }

File::~File() { Close(); }

File::File(File&& other) noexcept = default;

File& File::operator=(File&& other) noexcept = default;

bool File::OpenRead(const std::u16string& path) {
    Close();
    handle_ = GetFileSystem().OpenRead(path);
    return IsOpen();
}

bool File::CreateWrite(const std::u16string& path) {
    Close();
    handle_ = GetFileSystem().CreateWrite(path);
    return IsOpen();
}

bool File::IsOpen() const { return handle_ != nullptr; }

void File::Close() { handle_.reset(); }

uint64_t File::Length() { return IsOpen() ? handle_->Length() : 0; }

bool File::Seek(uint64_t offset) { return IsOpen() && handle_->Seek(offset); }

uint32_t File::Read(uint8_t* buffer, uint32_t count) {
    return IsOpen() && buffer != nullptr ? handle_->Read(buffer, count) : 0;
}

uint32_t File::Write(const uint8_t* data, uint32_t count) {
    return IsOpen() && data != nullptr ? handle_->Write(data, count) : 0;
}

bool File::Flush() { return IsOpen() && handle_->Flush(); }

bool CreateDirectory(const std::u16string& path) { return GetFileSystem().CreateDirectory(path); }

bool CreateDurableDirectory(const std::u16string& path) {
    if (!CreateDirectory(path)) return false;
    std::u16string folder = path;
    while (folder.size() > 1 && IsSeparator(folder.back())) folder.pop_back();
    return SyncFolder(RemoveFileSpec(folder));
}

bool CreateDurableFolders(const std::u16string& path) {
    if (path.empty()) return false;
    for (size_t at = 1; at < path.size(); ++at) {
        if (!IsSeparator(path[at]) || IsSeparator(path[at - 1]) || path[at - 1] == u':') continue;
        const std::u16string parent = path.substr(0, at);
        if (!PathExists(parent)) (void)CreateDurableDirectory(parent);   // the last check decides
    }
    if (!PathExists(path)) (void)CreateDurableDirectory(path);
    return PathExists(path);
}

bool PathExists(const std::u16string& path) { return GetFileSystem().PathExists(path); }

bool RemoveFile(const std::u16string& path) { return GetFileSystem().RemoveFile(path); }

bool ReplaceFile(const std::u16string& source, const std::u16string& target) {
    return GetFileSystem().ReplaceFile(source, target);
}

std::vector<std::u16string> ListFolder(const std::u16string& folder) { return GetFileSystem().ListFolder(folder); }

bool SyncFolder(const std::u16string& folder) { return GetFileSystem().SyncFolder(folder); }

}  // namespace platform

// Writes the flash programmer carried in the library to a file when the
// library loads, next to the host executable when that folder is writable and
// in the per-user folder otherwise; the run then loads the file written.
#include <algorithm>
#include <mutex>
#include <vector>

#include "platform/Platform.h"
#include "platform/Trace.h"
#include "upgrade/flashing/ImageSet.h"
#include "upgrade/run/PackagePath.h"
#include "upgrade/flashing/ProgrammerResource.h"
#include "upgrade/run/UpgradeInternal.h"

namespace upgrade {
namespace {

constexpr const char16_t* kExtract = u"CFWUpgradeDataCDMA7627Module::ExtractProgrammer";

std::mutex& ExtractedMutex() {
    static std::mutex m;
    return m;
}

std::u16string& ExtractedPath() {
    static std::u16string path;
    return path;
}

bool SameContent(const std::u16string& path, const uint8_t* data, uint32_t size) {
    platform::File file;
    if (!file.OpenRead(path) || file.Length() != size) return false;
    std::vector<uint8_t> onDisk(size);
    return (size == 0 || file.Read(onDisk.data(), size) == size) && std::equal(onDisk.begin(), onDisk.end(), data);
}

// Writes the image beside its final name and renames it over that name, so a
// host process loading the programmer never sees a half-written file. A file
// that already holds these bytes is left alone.
bool WriteWhole(const std::u16string& path, const uint8_t* data, uint32_t size) {
    if (SameContent(path, data, size)) return true;
    const std::u16string temporary = path + platform::FormatWide(u".%u.tmp", platform::CurrentThreadId());
    platform::File file;
    if (!file.CreateWrite(temporary)) return false;
    const bool complete = file.Write(data, size) == size && file.Flush();
    file.Close();
    if (complete && platform::ReplaceFile(temporary, path)) return true;
    (void)platform::RemoveFile(temporary);   // a leftover is overwritten by the next extraction
    return false;
}

}  // namespace

std::u16string HostExecutableFolder() { return platform::RemoveFileSpec(platform::GetModuleFileName(nullptr)); }

std::u16string ProgrammerPathForRun() {
    {
        std::lock_guard<std::mutex> lock(ExtractedMutex());
        if (!ExtractedPath().empty()) return ExtractedPath();
    }
    std::u16string path;
    if (!JoinPackagePath(HostExecutableFolder(), kProgrammerFileName, path))
        FW_TRACE(u"CFWUpgradeDataCDMA7627Module::SelectArmprgAccordingToPidVid",
                 u"Refuse the programmer path in %s: longer than %d units", HostExecutableFolder().c_str(),
                 int(kPathCapacity - 1));
    return path;
}

bool ExtractProgrammerTo(const std::vector<std::u16string>& folders, std::u16string& written) {
    RegisterProgrammerResource();
    const uint8_t* data = nullptr;
    uint32_t size = 0;
    if (!platform::LoadOwnResource(kProgrammerResourceType, kProgrammerResourceId, data, size)) {
        FW_TRACE(kExtract, u"The programmer resource BIN %d is not in the library", int(kProgrammerResourceId));
        return false;
    }
    for (size_t i = 0; i < folders.size(); ++i) {
        std::u16string path;
        if (!JoinPackagePath(folders[i], kProgrammerFileName, path)) {
            FW_TRACE(kExtract, u"Refuse the programmer path in %s: longer than %d units", folders[i].c_str(),
                     int(kPathCapacity - 1));
            continue;
        }
        if (i > 0) (void)platform::CreateDirectory(folders[i]);   // it may exist already; the write decides
        if (WriteWhole(path, data, size)) {
            written = path;
            return true;
        }
        FW_TRACE(kExtract, u"Cannot write the programmer to %s", path.c_str());
    }
    return false;
}

bool ImageSet::ExtractProgrammer() {
    std::u16string written;
    const bool ok = ExtractProgrammerTo({HostExecutableFolder(), platform::UserDataFolder()}, written);
    std::lock_guard<std::mutex> lock(ExtractedMutex());
    ExtractedPath() = written;
    if (!ok) {
        FW_TRACE(kExtract, u"read config file fail!");
        platform::ShowMessageBox(u"read config file fail!");
    }
    return ok;
}

const std::u16string& ImageSet::ExtractedProgrammerPath() {
    std::lock_guard<std::mutex> lock(ExtractedMutex());
    return ExtractedPath();
}

}  // namespace upgrade

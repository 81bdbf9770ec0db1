// Any package folder: each package file present or not, of any size up to
// past the 2 GiB image limit, in a folder whose path may pass the module's
// path limit. The host program's check and the module's own check must agree
// on whether the run may start, and on the optional images they found.
#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <system_error>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "fuzz/common/FuzzInput.h"
#include "fuzz/common/Sandbox.h"
#include "fuzz/common/VirtualTime.h"
#include "host/fwupgrade/package/PackageCheck.h"
#include "platform/Platform.h"
#include "upgrade/run/UpgradeModule.h"

namespace {

void Require(bool property) {
    if (!property) std::abort();
}

// Sizes around every limit the checks know.
constexpr uint64_t kSizes[] = {0, 1, 2, 3, 1023, 1024, 1025, 4096, (uint64_t{1} << 31) - 1, uint64_t{1} << 31,
                               (uint64_t{1} << 31) + 1, 40};

// What a package file is as the checks find it.
struct Entry {
    enum Kind { Absent, Folder, File } kind = Absent;
    uint64_t size = 0;
    bool operator==(const Entry&) const = default;
};

// The package folders live for the whole run; an input only changes the
// entries that differ from what the last input in that folder left, so a run
// makes and removes a handful of files instead of a whole tree.
class PackageFolders {
public:
    // The folder, made if needed, with every package file as `wanted` says.
    bool Lay(const std::filesystem::path& folder, const std::vector<Entry>& wanted) {
        auto [laid, fresh] = folders_.try_emplace(folder.string());
        if (fresh) {
            std::error_code made;
            std::filesystem::create_directories(folder, made);
            if (made) {
                folders_.erase(laid);
                return false;
            }
            // Whatever an earlier, failed lay left there goes.
            for (const fwupgrade::PackageFile& file : fwupgrade::PackageFiles()) {
                std::filesystem::remove_all(folder / file.name, made);
            }
            laid->second.assign(wanted.size(), Entry{});
        }
        for (size_t i = 0; i < wanted.size(); ++i) {
            Entry& now = laid->second[i];
            if (now == wanted[i]) continue;
            const std::filesystem::path path = folder / fwupgrade::PackageFiles()[i].name;
            if (!Change(path, now, wanted[i])) {
                folders_.erase(laid);
                return false;
            }
            now = wanted[i];
        }
        return true;
    }

private:
    static bool Change(const std::filesystem::path& path, const Entry& now, const Entry& wanted) {
        if (now.kind == Entry::Folder && ::rmdir(path.c_str()) != 0) return false;
        if (now.kind == Entry::File && wanted.kind != Entry::File && ::unlink(path.c_str()) != 0) return false;
        if (wanted.kind == Entry::Folder) return ::mkdir(path.c_str(), 0755) == 0;
        if (wanted.kind == Entry::File) return Size(path, wanted.size);
        return true;
    }
    static bool Size(const std::filesystem::path& path, uint64_t size) {
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT, 0644);
        if (fd < 0) return false;
        const bool sized = ::ftruncate(fd, static_cast<off_t>(size)) == 0;   // sparse: no data is written
        ::close(fd);
        return sized;
    }
    std::map<std::string, std::vector<Entry>> folders_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::InstallVirtualTime();
    fuzz::FuzzInput in(data, size);
    static const std::filesystem::path root = fuzz::Sandbox::Get().Fresh("package");
    std::filesystem::path folder = root;
    // A deeper folder takes the paths towards the module's 260-unit limit.
    const size_t depth = in.U8() % 4;
    for (size_t i = 0; i < depth; ++i) {
        folder /= std::string(60 + in.U8() % 16, static_cast<char>('a' + i));
    }
    std::vector<Entry> wanted;
    for (size_t i = 0; i < fwupgrade::PackageFiles().size(); ++i) {
        const uint8_t choice = in.U8();
        if ((choice & 0x80) != 0) {
            wanted.push_back({Entry::Absent});
        } else if ((choice & 0x40) != 0) {
            wanted.push_back({Entry::Folder});   // a folder where a file belongs
        } else {
            wanted.push_back({Entry::File, kSizes[choice % std::size(kSizes)]});
        }
    }
    static PackageFolders* const folders = new PackageFolders();
    if (!folders->Lay(folder, wanted)) return 0;
    const fwupgrade::PackageReport report = fwupgrade::CheckPackage(folder.string());
    upgrade::UpgradeModule module;
    const bool started = module.Images().Initialize(platform::Utf8ToWide(folder.string()));
    Require(started == report.Accepted());
    if (started) {
        Require(module.Images().HasUserdata() == report.hasUserdata);
        Require(module.Images().HasSplash() == report.hasSplash);
    }
    return 0;
}

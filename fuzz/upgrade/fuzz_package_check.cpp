// Any package folder: each package file present or not, of any size up to
// past the 2 GiB image limit, in a folder whose path may pass the module's
// path limit. The host program's check and the module's own check must agree
// on whether the run may start, and on the optional images they found.
#include <cstdint>
#include <filesystem>
#include <string>

#include <fcntl.h>
#include <unistd.h>

#include "fuzz/common/FuzzInput.h"
#include "fuzz/common/Sandbox.h"
#include "fuzz/common/VirtualTime.h"
#include "host/fwupgrade/PackageCheck.h"
#include "platform/Platform.h"
#include "upgrade/FWUpgradeDataCDMAW326Module.h"

namespace {

void Require(bool property) {
    if (!property) std::abort();
}

// Sizes around every limit the checks know.
constexpr uint64_t kSizes[] = {0, 1, 2, 3, 1023, 1024, 1025, 4096, (uint64_t{1} << 31) - 1, uint64_t{1} << 31,
                               (uint64_t{1} << 31) + 1, 40};

bool MakeFile(const std::filesystem::path& path, uint64_t size) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0) return false;
    const bool sized = ::ftruncate(fd, static_cast<off_t>(size)) == 0;   // sparse: no data is written
    ::close(fd);
    return sized;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::InstallVirtualTime();
    fuzz::FuzzInput in(data, size);
    std::filesystem::path folder = fuzz::Sandbox::Get().Fresh("package");
    // A deeper folder takes the paths towards the module's 260-unit limit.
    const size_t depth = in.U8() % 4;
    for (size_t i = 0; i < depth; ++i) {
        folder /= std::string(60 + in.U8() % 16, static_cast<char>('a' + i));
    }
    std::error_code made;
    std::filesystem::create_directories(folder, made);
    if (made) return 0;
    for (const fwupgrade::PackageFile& file : fwupgrade::PackageFiles()) {
        const uint8_t choice = in.U8();
        if ((choice & 0x80) != 0) continue;
        if ((choice & 0x40) != 0) {
            std::filesystem::create_directory(folder / file.name, made);   // a folder where a file belongs
            continue;
        }
        if (!MakeFile(folder / file.name, kSizes[choice % std::size(kSizes)])) return 0;
    }
    const fwupgrade::PackageReport report = fwupgrade::CheckPackage(folder.string());
    upgrade::UpgradeModule module;
    const bool started = module.Initialize(platform::Utf8ToWide(folder.string()));
    Require(started == report.Accepted());
    if (started) {
        Require(module.HasUserdata() == report.hasUserdata);
        Require(module.HasSplash() == report.hasSplash);
    }
    return 0;
}

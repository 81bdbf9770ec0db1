#include "host/fwupgrade/package/PackageCheck.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include "platform/Platform.h"
#include "upgrade/backup/Sha256.h"

namespace fwupgrade {

const std::vector<PackageFile>& PackageFiles() {
    static const std::vector<PackageFile> files = {
        {"partition.mbn", true, PackageFileKind::Table},
        {"qcsblhd_cfgdata.mbn", true, PackageFileKind::Loader},
        {"qcsbl.mbn", true, PackageFileKind::Loader},
        {"oemsblhd.mbn", true, PackageFileKind::Header},
        {"oemsbl.mbn", true, PackageFileKind::Image},
        {"amsshd.mbn", true, PackageFileKind::Header},
        {"amss.mbn", true, PackageFileKind::Image},
        {"appsboothd.mbn", true, PackageFileKind::Header},
        {"appsboot.mbn", true, PackageFileKind::Loader},
        {"partition_vek.mbn", true, PackageFileKind::Loader},
        {"system.img", true, PackageFileKind::Image},
        {"boot.img", true, PackageFileKind::Image},
        {"userdata.img", false, PackageFileKind::Image},
        {"splash.img", false, PackageFileKind::Image},
        {"recovery.img", true, PackageFileKind::Image},
        {"cefs.mbn", true, PackageFileKind::Image},
    };
    return files;
}

bool PackageReport::Accepted() const {
    for (const auto& problem : problems)
        if (problem.fatal) return false;
    return true;
}

namespace {

// The longest path the module builds from the folder.
size_t LongestPathUnits(const std::string& folder) {
    size_t longest = 0;
    for (const auto& file : PackageFiles()) longest = std::max(longest, std::string(file.name).size());
    // The folder's length in UTF-16 units: count the non-continuation bytes,
    // with four-byte sequences taking two units.
    size_t units = 0;
    for (unsigned char c : folder) {
        if ((c & 0xC0) != 0x80) ++units;
        if (c >= 0xF0) ++units;
    }
    return units + 1 + longest;
}

void CheckOne(const std::string& folder, const PackageFile& file, PackageReport& report) {
    const std::string path = folder + "/" + file.name;
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        report.problems.push_back({file.name, file.required ? "missing" : "absent (optional)", file.required});
        return;
    }
    if (!S_ISREG(info.st_mode)) {
        report.problems.push_back({file.name, "not a regular file", file.required});
        return;
    }
    // Without O_NONBLOCK a FIFO put in place after the stat would block the open.
    const int probe = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (probe < 0) {
        report.problems.push_back({file.name, "cannot be opened for reading", file.required});
        return;
    }
    ::close(probe);
    const auto size = static_cast<uint64_t>(info.st_size);
    if (size < kMinimumFileSize) {
        report.problems.push_back(
            {file.name, "holds " + std::to_string(size) + " byte(s); at least 2 are needed", file.required});
        return;
    }
    if ((file.kind == PackageFileKind::Header || file.kind == PackageFileKind::Table) && size > kPayloadLimit) {
        report.problems.push_back(
            {file.name, "holds " + std::to_string(size) + " bytes; it is sent as one payload of at most 1024 bytes",
             true});
    } else if (size >= kImageLimit) {
        report.problems.push_back(
            {file.name, "holds " + std::to_string(size) + " bytes; images must stay below 2 GiB", true});
    }
    report.totalBytes += size;
    report.files.push_back({file.name, size, ""});
    if (std::string(file.name) == "userdata.img") report.hasUserdata = true;
    if (std::string(file.name) == "splash.img") report.hasSplash = true;
}

void DigestFiles(const std::string& folder, PackageReport& report) {
    for (auto& file : report.files) {
        if (!upgrade::Sha256OfFile(platform::Utf8ToWide(folder + "/" + file.name), file.sha256))
            report.problems.push_back({file.name, "cannot be read to the end", true});
    }
}

}  // namespace

PackageReport CheckPackage(const std::string& folder, PackageCheckOptions options) {
    PackageReport report;
    struct stat info {};
    if (folder.empty() || ::stat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
        report.problems.push_back({"", "the package folder \"" + folder + "\" does not exist or is not a folder", true});
        return report;
    }
    if (LongestPathUnits(folder) >= kModulePathCapacity) {
        report.problems.push_back(
            {"", "the folder path is too long: the module keeps package paths below 260 characters", true});
    }
    for (const auto& file : PackageFiles()) CheckOne(folder, file, report);
    const bool listed = options.checkSums && ::access((folder + "/" + kSumsFileName).c_str(), F_OK) == 0;
    if (options.digestAll || listed) DigestFiles(folder, report);
    if (!listed || !report.Accepted()) return report;
    report.sumsChecked = true;
    for (const auto& problem : CheckSums(folder, report.files).problems)
        report.problems.push_back({"", problem, true});
    return report;
}

}  // namespace fwupgrade

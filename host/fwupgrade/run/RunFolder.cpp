#include "host/fwupgrade/run/RunFolder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>

#include "host/fwupgrade/package/PackageCheck.h"
#include "host/fwupgrade/run/DurableText.h"
#include "host/fwupgrade/package/PackageSums.h"

namespace fwupgrade {

namespace {

constexpr size_t kMarkLimit = 4096;

bool Fail(std::string& error, const std::string& what) {
    error = what + ": " + std::strerror(errno);
    return false;
}

bool SyncFolder(const std::string& folder) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool synced = ::fsync(fd) == 0 || errno == EINVAL;
    ::close(fd);
    return synced;
}

// A folder that is new is synced into its parent, so it outlives a power cut.
bool MakeDurableFolder(const std::string& folder, std::string& error) {
    if (::mkdir(folder.c_str(), 0755) != 0) {
        struct stat info {};
        if (errno == EEXIST && ::stat(folder.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) return true;
        return Fail(error, "cannot create the folder " + folder);
    }
    const std::string parent = folder.substr(0, folder.find_last_of('/'));
    if (!SyncFolder(parent.empty() ? "/" : parent)) return Fail(error, "cannot sync the folder " + parent);
    return true;
}

bool LinkPackageFile(const std::string& package, const std::string& folder, const std::string& name, std::string& error) {
    const std::string target = package + "/" + name;
    struct stat info {};
    if (::stat(target.c_str(), &info) != 0) return true;   // the package check names what is missing
    if (::symlink(target.c_str(), (folder + "/" + name).c_str()) != 0) return Fail(error, "cannot link " + target);
    return true;
}

bool WriteMark(const std::string& folder, const std::string& package, std::string& error) {
    return WriteTextDurably(folder + "/" + kRunFolderMark, package + "\n", error);
}

}  // namespace

std::string RunStamp(std::time_t started) {
    std::tm utc{};
    ::gmtime_r(&started, &utc);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y%m%dT%H%M%SZ", &utc);
    return std::string(stamp) + "-" + std::to_string(::getpid());
}

std::string RunFolderName(std::time_t started, const std::string& device) {
    std::string label = device.substr(device.rfind('/') + 1);
    for (char& c : label)
        if (c == ' ' || c == '%' || c == ':') c = '_';
    return RunStamp(started) + "-" + label;
}

bool MakeRunFolder(const std::string& root, const std::string& name, const std::string& package, std::string& folder,
                   std::string& error) {
    folder = root + "/" + name;
    if (!MakeDurableFolder(root, error) || !MakeDurableFolder(folder, error)) return false;
    for (const auto& file : PackageFiles())
        if (!LinkPackageFile(package, folder, file.name, error)) return false;
    if (!LinkPackageFile(package, folder, kSumsFileName, error)) return false;
    return WriteMark(folder, package, error);
}

std::string RunFolderPackage(const std::string& folder) {
    std::ifstream in(folder + "/" + kRunFolderMark, std::ios::binary);
    if (!in) return {};
    std::string text(kMarkLimit + 1, '\0');
    in.read(text.data(), static_cast<std::streamsize>(text.size()));
    text.resize(static_cast<size_t>(in.gcount()));
    // One absolute path and a newline, nothing else.
    if (text.size() > kMarkLimit || text.size() < 2 || text[0] != '/' || text.back() != '\n') return {};
    text.pop_back();
    if (text.find('\n') != std::string::npos || text.find('\0') != std::string::npos) return {};
    return text;
}

}  // namespace fwupgrade

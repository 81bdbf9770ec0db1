#include "host/fwupgrade/run/PackageView.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "host/fwupgrade/package/PackageCheck.h"

namespace fwupgrade {

namespace {

bool MakeFolder(const std::string& path, std::string& error) {
    if (::mkdir(path.c_str(), 0755) == 0 || errno == EEXIST) {
        struct stat info {};
        if (::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) return true;
    }
    error = "cannot create the folder " + path + ": " + std::strerror(errno);
    return false;
}

}  // namespace

std::string AbsolutePath(const std::string& path) {
    if (!path.empty() && path[0] == '/') return path;
    char cwd[PATH_MAX];
    if (::getcwd(cwd, sizeof cwd) == nullptr) return path;
    std::string base = cwd;
    if (path.empty() || path == ".") return base;
    std::string rest = path;
    while (rest.rfind("./", 0) == 0) rest.erase(0, 2);
    return base + "/" + rest;
}

std::string SameDeviceKey(const std::string& path) {
    char resolved[PATH_MAX];
    if (::realpath(path.c_str(), resolved) != nullptr) return resolved;
    return AbsolutePath(path);
}

bool MakeCardFolder(const std::string& root, size_t index, const std::string& package, CardFolder& out,
                    std::string& error) {
    const std::string absRoot = AbsolutePath(root);
    const std::string absPackage = AbsolutePath(package);
    out.folder = absRoot + "/card" + std::to_string(index);
    out.package = out.folder + "/package";
    if (!MakeFolder(absRoot, error) || !MakeFolder(out.folder, error) || !MakeFolder(out.package, error)) return false;
    for (const auto& file : PackageFiles()) {
        const std::string target = absPackage + "/" + file.name;
        const std::string link = out.package + "/" + file.name;
        struct stat linkInfo {};
        if (::lstat(link.c_str(), &linkInfo) == 0) {
            if (!S_ISLNK(linkInfo.st_mode)) {
                error = link + " exists and is not a link to the package";
                return false;
            }
            ::unlink(link.c_str());
        }
        struct stat targetInfo {};
        if (::stat(target.c_str(), &targetInfo) != 0) continue;   // the module reports what is missing
        if (::symlink(target.c_str(), link.c_str()) != 0) {
            error = "cannot link " + link + ": " + std::strerror(errno);
            return false;
        }
    }
    return true;
}

}  // namespace fwupgrade

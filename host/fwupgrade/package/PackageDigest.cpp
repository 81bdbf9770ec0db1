#include "host/fwupgrade/package/PackageDigest.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "host/fwupgrade/package/PackageCheck.h"
#include "upgrade/backup/Sha256.h"

namespace fwupgrade {

namespace {

// Adds one file; false when it exists but cannot be read as a regular file.
bool AddFile(upgrade::Sha256& digest, const std::string& path, const std::string& name) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return errno == ENOENT;
    struct stat info {};
    bool ok = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
    if (ok) {
        digest.Update({reinterpret_cast<const uint8_t*>(name.c_str()), name.size() + 1});
        uint8_t size[8];
        for (int i = 0; i < 8; ++i) size[i] = static_cast<uint8_t>(static_cast<uint64_t>(info.st_size) >> (8 * i));
        digest.Update(size);
        uint8_t buffer[1 << 16];
        ssize_t got;
        while ((got = ::read(fd, buffer, sizeof buffer)) != 0) {
            if (got < 0 && errno == EINTR) continue;
            if (got < 0) {
                ok = false;
                break;
            }
            digest.Update({buffer, static_cast<size_t>(got)});
        }
    }
    ::close(fd);
    return ok;
}

}  // namespace

std::string PackageDigest(const std::string& folder) {
    upgrade::Sha256 digest;
    for (const auto& file : PackageFiles())
        if (!AddFile(digest, folder + "/" + file.name, file.name)) return {};
    return "sha256:" + upgrade::DigestHex(digest.Final());
}

}  // namespace fwupgrade

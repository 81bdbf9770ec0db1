#include "host/fwupgrade/card/DeviceAccess.h"

#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>

#include "host/fwupgrade/report/FailureReport.h"
#include "platform/posix/SerialPort.h"
#include "platform/posix/UsbSerial.h"

namespace fwupgrade {

namespace {

constexpr const char* kUdevRule = "70-fwupgrade.rules";

std::string RealPath(const std::string& path) {
    char resolved[PATH_MAX];
    return ::realpath(path.c_str(), resolved) == nullptr ? std::string() : std::string(resolved);
}

std::string ModeText(mode_t mode) {
    char text[10];
    const char* letters = "rwxrwxrwx";
    for (int bit = 0; bit < 9; ++bit) text[bit] = (mode & (0400u >> bit)) != 0 ? letters[bit] : '-';
    text[9] = '\0';
    return text;
}

bool UserInGroup(gid_t group) {
    if (::getegid() == group) return true;
    gid_t groups[NGROUPS_MAX];
    const int count = ::getgroups(NGROUPS_MAX, groups);
    for (int i = 0; i < count; ++i)
        if (groups[i] == group) return true;
    return false;
}

DeviceFacts FactsOf(const std::string& path) {
    DeviceFacts facts;
    facts.path = path;
    struct stat info {};
    if (::stat(path.c_str(), &info) == 0) {
        facts.mode = info.st_mode & 0777;
        const group* owner = ::getgrgid(info.st_gid);
        facts.group = owner != nullptr ? owner->gr_name : std::to_string(info.st_gid);
        facts.userInGroup = UserInGroup(info.st_gid);
    }
    facts.holders = ProcessesHolding(path);
    return facts;
}

std::string HolderWords(const std::vector<std::string>& holders) {
    if (holders.empty()) return "another process (one this user cannot see)";
    std::string text;
    for (const auto& holder : holders) text += (text.empty() ? "" : ", ") + holder;
    return text;
}

}  // namespace

DeviceAccess NotASerialPort(const std::string& path, const std::string& what) {
    return {kExitNoDevice, path + " is " + what + ", not a serial port: name the card's tty, e.g. /dev/ttyUSB0 or its "
                                                  "/dev/serial/by-id/ name (`fwupgrade detect` lists the cards)."};
}

DeviceAccess DescribeOpenFailure(int error, const DeviceFacts& facts) {
    DeviceAccess access;
    switch (error) {
        case ENOENT:
        case ENODEV:
        case ENXIO:
            access.exitStatus = kExitNoDevice;
            access.problem = "No such device: " + facts.path +
                             ". Is the card plugged in? `fwupgrade detect` lists the cards and the ports to use.";
            break;
        case EACCES:
        case EPERM:
            access.exitStatus = kExitDeviceDenied;
            access.problem = "Permission denied: " + facts.path + " (" + ModeText(facts.mode) + ", group " + facts.group +
                             ") may not be opened by this user" +
                             (facts.userInGroup ? "" : ", who is not in the group " + facts.group) +
                             ". Install fwupgrade's udev rule (" + kUdevRule +
                             ", in the package), which gives the logged-in user the card's ports, or add yourself to "
                             "the group: sudo usermod -aG " + facts.group + " \"$USER\", then log in again.";
            break;
        case EBUSY:
        case EWOULDBLOCK:
            access.exitStatus = kExitDeviceBusy;
            access.problem = "The device " + facts.path + " is busy: it is held by " + HolderWords(facts.holders) +
                             ". Close that program, or wait for its run to end, and try again.";
            break;
        case EISDIR:
            return NotASerialPort(facts.path, "a folder");
        default:
            access.exitStatus = kExitNoDevice;
            access.problem = "The device " + facts.path + " cannot be opened: " + std::strerror(error) + ".";
            break;
    }
    return access;
}

DeviceAccess CheckDeviceAccess(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        const int error = errno;
        return DescribeOpenFailure(error, FactsOf(path));
    }
    // A file or /dev/null opens, and would then fail every exchange.
    if (!::isatty(fd)) {
        struct stat info {};
        const bool plain = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
        ::close(fd);
        return NotASerialPort(path, plain ? "a plain file" : "no terminal");
    }
    // The module takes this lock too: another run holds it.
    const bool locked = ::flock(fd, LOCK_EX | LOCK_NB) == 0;
    const int error = errno;
    ::close(fd);
    if (!locked && error == EWOULDBLOCK) return DescribeOpenFailure(EWOULDBLOCK, FactsOf(path));
    return {};
}

std::string CardDevicePathNow(int portNumber) {
    const auto pin = platform::posix::PinFromEnvironment();
    if (!pin) return platform::ComPortDevicePath(portNumber);
    return platform::posix::ResolvePinnedTty(platform::posix::UsbTreeFromEnvironment(), *pin).value_or("");
}

DeviceAccess CheckCardAccess(int portNumber) {
    const std::string path = CardDevicePathNow(portNumber);
    if (!path.empty()) return CheckDeviceAccess(path);
    return {kExitNoDevice, "No such device: nothing with a serial port is plugged in at USB port " +
                               platform::posix::PinFromEnvironment()->usbPort +
                               ". `fwupgrade detect` lists the cards and the ports to use."};
}

std::vector<std::string> ProcessesHolding(const std::string& path, const std::string& procRoot) {
    std::vector<std::string> holders;
    const std::string target = RealPath(path);
    if (target.empty()) return holders;
    DIR* proc = ::opendir(procRoot.c_str());
    if (proc == nullptr) return holders;
    const std::string self = std::to_string(::getpid());
    while (const dirent* entry = ::readdir(proc)) {
        const std::string pid = entry->d_name;
        if (pid.empty() || pid.find_first_not_of("0123456789") != std::string::npos || pid == self) continue;
        const std::string fdFolder = procRoot + "/" + pid + "/fd";
        DIR* fds = ::opendir(fdFolder.c_str());
        if (fds == nullptr) continue;
        bool holds = false;
        while (const dirent* fd = ::readdir(fds)) {
            char link[PATH_MAX];
            const ssize_t length = ::readlink((fdFolder + "/" + fd->d_name).c_str(), link, sizeof link - 1);
            if (length > 0 && std::string(link, static_cast<size_t>(length)) == target) holds = true;
        }
        ::closedir(fds);
        if (!holds) continue;
        std::string name;
        std::getline(std::ifstream(procRoot + "/" + pid + "/comm"), name);
        holders.push_back((name.empty() ? "process" : name) + " (pid " + pid + ")");
    }
    ::closedir(proc);
    return holders;
}

}  // namespace fwupgrade

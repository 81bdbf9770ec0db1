#include "host/fwupgrade/station/FirmwarePin.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>

#include "platform/posix/UsbSerial.h"

namespace fwupgrade::station {

namespace {

constexpr const char* kFileName = "firmware-pin";
constexpr size_t kLongestPin = 64;

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

}  // namespace

bool KeepFirmwarePin(const std::string& portFolder, const std::string& pin, std::string& error) {
    const std::string path = portFolder + "/" + kFileName;
    const std::string temporary = path + ".new";
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return Fail(error, "cannot create " + temporary);
    const std::string text = pin + "\n";
    const bool written = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size()) && ::fsync(fd) == 0;
    const int saved = errno;
    ::close(fd);
    errno = saved;
    if (!written) return Fail(error, "cannot write " + temporary);
    if (::rename(temporary.c_str(), path.c_str()) != 0) return Fail(error, "cannot rename " + temporary);
    if (!SyncFolder(portFolder)) return Fail(error, "cannot sync the folder " + portFolder);
    return true;
}

std::optional<std::string> KeptFirmwarePin(const std::string& portFolder, const std::string& usbPort,
                                           std::string& problem) {
    problem.clear();
    const std::string path = portFolder + "/" + kFileName;
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (text.size() > kLongestPin || text.empty() || text.back() != '\n') {
        problem = path + " does not hold one line with a USB interface";
        return std::nullopt;
    }
    text.pop_back();
    const auto pin = platform::posix::ParseUsbPortName(text);
    if (!pin || pin->interfaceNumber < 0 || pin->usbPort != usbPort) {
        problem = path + " holds \"" + text + "\", not an interface of USB port " + usbPort;
        return std::nullopt;
    }
    return text;
}

}  // namespace fwupgrade::station

#include "host/fwupgrade/run/LogFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

namespace fwupgrade {

LogFile::~LogFile() {
    if (fd_ >= 0) ::close(fd_);
}

bool LogFile::Open(const std::string& path, std::string& error) {
    const std::filesystem::path parent = std::filesystem::path(path).parent_path();
    std::error_code ignored;
    if (!parent.empty()) std::filesystem::create_directories(parent, ignored);
    fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_APPEND | O_CLOEXEC, 0644);
    if (fd_ < 0) error = std::strerror(errno);
    return fd_ >= 0;
}

void LogFile::Line(const std::string& text) {
    if (fd_ < 0) return;
    const std::string line = text + "\n";
    size_t done = 0;
    while (done < line.size()) {
        const ssize_t put = ::write(fd_, line.data() + done, line.size() - done);
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) return;
        done += static_cast<size_t>(put);
    }
}

}  // namespace fwupgrade

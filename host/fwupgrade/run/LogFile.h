// The text log of a run. Every line goes to the file with one write as it
// arrives, so a run that is killed leaves its log complete up to the kill.
#pragma once

#include <string>

namespace fwupgrade {

class LogFile {
public:
    LogFile() = default;
    ~LogFile();
    LogFile(const LogFile&) = delete;
    LogFile& operator=(const LogFile&) = delete;

    // Creates or empties the file (and the folders above it).
    bool Open(const std::string& path, std::string& error);
    bool IsOpen() const { return fd_ >= 0; }
    void Line(const std::string& text);

private:
    int fd_ = -1;
};

}  // namespace fwupgrade

#include "platform/posix/SerialPort.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <utility>

#include "platform/Trace.h"
#include "platform/posix/UsbSerial.h"

namespace platform {

namespace {

constexpr const char* kPatternVariable = "FWUPGRADE_PORT_PATTERN";
constexpr const char* kDefaultPattern = "/dev/ttyUSB%d";

struct SpeedEntry {
    uint32_t baud;
    speed_t speed;
};

constexpr SpeedEntry kSpeeds[] = {
    {1200, B1200},     {2400, B2400},     {4800, B4800},     {9600, B9600},       {19200, B19200},
    {38400, B38400},   {57600, B57600},   {115200, B115200}, {230400, B230400},   {460800, B460800},
    {921600, B921600},
};

// Milliseconds of the monotonic clock. The driver's own timeouts are real
// time: they model the serial driver, not the module's clock.
int64_t MonotonicMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

class PosixComPort final : public ComPort {
public:
    PosixComPort(int fd, bool virtualCard) : fd_(fd), virtualCard_(virtualCard) {}
    ~PosixComPort() override { ::close(fd_); }
    PosixComPort(const PosixComPort&) = delete;
    PosixComPort& operator=(const PosixComPort&) = delete;

    bool SetLine(const LineSettings& settings) override {
        termios tio{};
        if (::tcgetattr(fd_, &tio) != 0) {
            return false;
        }
        ::cfmakeraw(&tio);
        const uint32_t speed = TermiosSpeedOf(settings.baudRate);
        if (speed == 0 || ::cfsetispeed(&tio, speed) != 0 || ::cfsetospeed(&tio, speed) != 0) {
            return false;
        }
        tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS);
        switch (settings.byteSize) {
            case 5: tio.c_cflag |= CS5; break;
            case 6: tio.c_cflag |= CS6; break;
            case 7: tio.c_cflag |= CS7; break;
            case 8: tio.c_cflag |= CS8; break;
            default: return false;
        }
        if (settings.parity == 'e' || settings.parity == 'o') {
            tio.c_cflag |= PARENB;
            if (settings.parity == 'o') {
                tio.c_cflag |= PARODD;
            }
        } else if (settings.parity != 'n') {
            return false;
        }
        if (settings.stopBits == 2) {
            tio.c_cflag |= CSTOPB;
        }
        tio.c_cflag |= CLOCAL | CREAD;
        tio.c_cc[VMIN] = 0;
        tio.c_cc[VTIME] = 0;
        return ::tcsetattr(fd_, TCSANOW, &tio) == 0;
    }

    // The tty layer sizes its own queues; the request is accepted as is.
    bool SetupComm(uint32_t, uint32_t) override { return true; }
    // Line events are not waited for by this module; the mask is accepted.
    bool SetCommMask(uint32_t) override { return true; }

    bool SetCommTimeouts(const PortTimeouts& timeouts) override {
        timeouts_ = timeouts;
        return true;
    }

    bool PurgeComm(uint32_t flags) override {
        const bool rx = (flags & (kPurgeRxAbort | kPurgeRxClear)) != 0;
        const bool tx = (flags & (kPurgeTxAbort | kPurgeTxClear)) != 0;
        if (rx && tx) {
            return ::tcflush(fd_, TCIOFLUSH) == 0;
        }
        if (rx) {
            return ::tcflush(fd_, TCIFLUSH) == 0;
        }
        if (tx) {
            return ::tcflush(fd_, TCOFLUSH) == 0;
        }
        return true;
    }

    uint32_t QueuedInput() override {
        int waiting = 0;
        if (::ioctl(fd_, FIONREAD, &waiting) != 0 || waiting < 0) {
            return 0;
        }
        return static_cast<uint32_t>(waiting);
    }

    uint32_t Read(uint8_t* buffer, uint32_t count) override {
        const int64_t budget = static_cast<int64_t>(timeouts_.readTotalTimeoutMultiplier) * count +
                               timeouts_.readTotalTimeoutConstant;
        return Transfer(buffer, count, budget, POLLIN, [this](uint8_t* at, uint32_t n) { return ::read(fd_, at, n); });
    }

    uint32_t Write(const uint8_t* data, uint32_t count) override {
        const int64_t budget = static_cast<int64_t>(timeouts_.writeTotalTimeoutMultiplier) * count +
                               timeouts_.writeTotalTimeoutConstant;
        uint8_t* at = const_cast<uint8_t*>(data);   // only handed to write(2)
        return Transfer(at, count, budget, POLLOUT, [this](uint8_t* from, uint32_t n) { return ::write(fd_, from, n); });
    }

    bool IsVirtualCard() const override { return virtualCard_; }

private:
    // Moves up to count bytes, waiting at most budgetMs in all; returns what
    // was moved when the budget runs out or the line hangs up.
    template <typename Io>
    uint32_t Transfer(uint8_t* buffer, uint32_t count, int64_t budgetMs, short event, Io io) {
        const int64_t deadline = MonotonicMs() + budgetMs;
        uint32_t done = 0;
        while (done < count) {
            const ssize_t n = io(buffer + done, count - done);
            if (n > 0) {
                done += static_cast<uint32_t>(n);
                continue;
            }
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
                break;
            }
            const int64_t left = deadline - MonotonicMs();
            if (left <= 0) {
                break;
            }
            pollfd entry{fd_, event, 0};
            const int ready = ::poll(&entry, 1, static_cast<int>(left));
            if (ready < 0 && errno == EINTR) {
                continue;
            }
            if (ready <= 0 || (entry.revents & event) == 0) {
                break;   // timeout, hang-up or error
            }
        }
        return done;
    }

    int fd_;
    bool virtualCard_;
    PortTimeouts timeouts_;
};

// COM n is the pattern's device, or, for a card pinned to a USB port, the
// tty found under that port at this very open: the card re-enumerates at
// each mode change and may come back under another name and number.
class PosixComPortOpener final : public ComPortOpener {
public:
    std::unique_ptr<ComPort> Open(const std::u16string&, int32_t portNumber) override {
        const auto pin = posix::ActivePin();
        if (!pin) return OpenPosixComPort(ComPortDevicePath(portNumber));
        const auto tty = posix::ResolvePinnedTty(posix::UsbTreeFromEnvironment(), *pin);
        if (!tty) return nullptr;   // nothing under the port yet: the caller's open retries wait for it
        WriteLog(FW_SERIAL_SOURCE, __LINE__, u"CSerial::Open", u"COM%d is %s (USB port %s, interface %d)", portNumber,
                 Utf8ToWide(*tty).c_str(), Utf8ToWide(pin->usbPort).c_str(), pin->interfaceNumber);
        return OpenPosixComPort(*tty);
    }
};

}  // namespace

uint32_t TermiosSpeedOf(uint32_t baudRate) {
    for (const SpeedEntry& entry : kSpeeds) {
        if (entry.baud == baudRate) {
            return static_cast<uint32_t>(entry.speed);
        }
    }
    return 0;
}

std::string ComPortDevicePath(const std::string& pattern, int32_t portNumber) {
    const size_t at = pattern.find("%d");
    if (at == std::string::npos) {
        return pattern;
    }
    return pattern.substr(0, at) + std::to_string(portNumber) + pattern.substr(at + 2);
}

std::string ComPortDevicePath(int32_t portNumber) {
    const char* pattern = std::getenv(kPatternVariable);
    return ComPortDevicePath(pattern != nullptr && pattern[0] != '\0' ? pattern : kDefaultPattern, portNumber);
}

bool IsPseudoTerminalNode(mode_t mode, dev_t device) {
    // Unix98 pseudo-terminal slaves are character devices of majors 136-143.
    const unsigned int deviceMajor = major(device);
    return S_ISCHR(mode) && deviceMajor >= 136 && deviceMajor <= 143;
}

bool IsPseudoTerminal(int fd) {
    struct stat info {};
    return ::fstat(fd, &info) == 0 && IsPseudoTerminalNode(info.st_mode, info.st_rdev);
}

bool IsPseudoTerminalPath(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && IsPseudoTerminalNode(info.st_mode, info.st_rdev);
}

std::unique_ptr<ComPort> OpenPosixComPort(const std::string& devicePath) {
    const int fd = ::open(devicePath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return nullptr;
    }
    // No sharing: a second port object on the same device is refused.
    if (!::isatty(fd) || ::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return nullptr;
    }
    return std::make_unique<PosixComPort>(fd, IsPseudoTerminal(fd));
}

std::unique_ptr<ComPortOpener> MakeDefaultComPortOpener() { return std::make_unique<PosixComPortOpener>(); }

}  // namespace platform

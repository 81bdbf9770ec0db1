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

uint32_t BaudOfSpeed(speed_t speed) {
    for (const SpeedEntry& entry : kSpeeds) {
        if (entry.speed == speed) {
            return entry.baud;
        }
    }
    return 0;
}

// Milliseconds of the monotonic clock. The driver's own timeouts are real
// time: they model the serial driver, not the module's clock.
int64_t MonotonicMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

class PosixComPort final : public ComPort {
public:
    explicit PosixComPort(int fd) : fd_(fd) {}
    ~PosixComPort() override { ::close(fd_); }
    PosixComPort(const PosixComPort&) = delete;
    PosixComPort& operator=(const PosixComPort&) = delete;

    bool GetCommState(LineSettings& out) override {
        termios tio{};
        if (::tcgetattr(fd_, &tio) != 0) {
            return false;
        }
        out.baudRate = BaudOfSpeed(::cfgetospeed(&tio));
        switch (tio.c_cflag & CSIZE) {
            case CS5: out.byteSize = 5; break;
            case CS6: out.byteSize = 6; break;
            case CS7: out.byteSize = 7; break;
            default: out.byteSize = 8; break;
        }
        out.parity = (tio.c_cflag & PARENB) == 0 ? 'n' : ((tio.c_cflag & PARODD) != 0 ? 'o' : 'e');
        out.stopBits = (tio.c_cflag & CSTOPB) != 0 ? 2 : 1;
        return true;
    }

    bool BuildCommDCB(const std::u16string& text, LineSettings& inOut) override { return ParseModeText(text, inOut); }

    bool SetCommState(const LineSettings& settings) override {
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
    PortTimeouts timeouts_;
};

// COM n is the pattern's device, or, for a card pinned to a USB port, the
// tty found under that port at this very open: the card re-enumerates at
// each mode change and may come back under another name and number.
class PosixComPortOpener final : public ComPortOpener {
public:
    std::unique_ptr<ComPort> Open(const std::u16string&, int32_t portNumber) override {
        const auto pin = posix::PinFromEnvironment();
        if (!pin) return OpenPosixComPort(ComPortDevicePath(portNumber));
        const auto tty = posix::ResolvePinnedTty(posix::UsbTreeFromEnvironment(), *pin);
        if (!tty) return nullptr;   // nothing under the port yet: the caller's open retries wait for it
        WriteLog(FW_SERIAL_SOURCE, __LINE__, u"CSerial::Open", u"COM%d is %s (USB port %s, interface %d)", portNumber,
                 Utf8ToWide(*tty).c_str(), Utf8ToWide(pin->usbPort).c_str(), pin->interfaceNumber);
        return OpenPosixComPort(*tty);
    }
};

bool ParseUnsigned(const std::string& text, uint32_t& out) {
    if (text.empty() || text.size() > 9) {
        return false;
    }
    uint32_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') {
            return false;
        }
        value = value * 10 + static_cast<uint32_t>(c - '0');
    }
    out = value;
    return true;
}

std::string Trim(const std::string& text) {
    const size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos) {
        return {};
    }
    const size_t last = text.find_last_not_of(" \t");
    return text.substr(first, last - first + 1);
}

}  // namespace

uint32_t TermiosSpeedOf(uint32_t baudRate) {
    for (const SpeedEntry& entry : kSpeeds) {
        if (entry.baud == baudRate) {
            return static_cast<uint32_t>(entry.speed);
        }
    }
    return 0;
}

bool ParseModeText(const std::u16string& text, LineSettings& inOut) {
    std::string narrow;
    for (char16_t unit : text) {
        if (unit > 0x7F) {
            return false;
        }
        narrow.push_back(static_cast<char>(unit));
    }
    const size_t colon = narrow.find(':');
    if (colon != std::string::npos) {
        narrow.erase(0, colon + 1);
    }
    std::string fields[4];
    size_t fieldCount = 0;
    size_t start = 0;
    while (true) {
        const size_t comma = narrow.find(',', start);
        if (fieldCount == 4) {
            return false;
        }
        fields[fieldCount++] = Trim(narrow.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
        if (comma == std::string::npos) {
            break;
        }
        start = comma + 1;
    }
    LineSettings result = inOut;
    if (!ParseUnsigned(fields[0], result.baudRate) || result.baudRate == 0) {
        return false;
    }
    if (fieldCount > 1 && !fields[1].empty()) {
        if (fields[1].size() != 1) {
            return false;
        }
        const char parity = static_cast<char>(fields[1][0] | 0x20);
        if (parity != 'n' && parity != 'e' && parity != 'o') {
            return false;
        }
        result.parity = parity;
    }
    if (fieldCount > 2 && !fields[2].empty()) {
        uint32_t bits = 0;
        if (!ParseUnsigned(fields[2], bits) || bits < 5 || bits > 8) {
            return false;
        }
        result.byteSize = static_cast<uint8_t>(bits);
    }
    if (fieldCount > 3 && !fields[3].empty()) {
        uint32_t stop = 0;
        if (!ParseUnsigned(fields[3], stop) || (stop != 1 && stop != 2)) {
            return false;
        }
        result.stopBits = static_cast<uint8_t>(stop);
    }
    inOut = result;
    return true;
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

bool IsPseudoTerminal(int fd) {
    // Unix98 pseudo-terminal slaves are character devices of majors 136-143.
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISCHR(info.st_mode)) {
        return false;
    }
    const unsigned int deviceMajor = major(info.st_rdev);
    return deviceMajor >= 136 && deviceMajor <= 143;
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
    SetPortIsVirtual(IsPseudoTerminal(fd));
    return std::make_unique<PosixComPort>(fd);
}

std::unique_ptr<ComPortOpener> MakeDefaultComPortOpener() { return std::make_unique<PosixComPortOpener>(); }

}  // namespace platform

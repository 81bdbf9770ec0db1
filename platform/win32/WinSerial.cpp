// The COM port through the Windows communications API.
//
// Line settings go through the device's own DCB (GetCommState), a mode text
// "COMn: baud, parity, data, stop" that BuildCommDCB parses into it, and
// SetCommState, so that only baud rate, byte size, parity and stop bits change
// and the driver's other fields (flow control, ...) stay as the device had them.
#include "platform/Trace.h"
#include "platform/VirtualCardClock.h"
#include "platform/win32/WinApi.h"

namespace platform {

namespace {

char ParityLetter(BYTE parity) {
    switch (parity) {
        case ODDPARITY: return 'o';
        case EVENPARITY: return 'e';
        case MARKPARITY: return 'm';
        case SPACEPARITY: return 's';
        default: return 'n';
    }
}

BYTE ParityCode(char letter) {
    switch (letter) {
        case 'o': case 'O': return ODDPARITY;
        case 'e': case 'E': return EVENPARITY;
        case 'm': case 'M': return MARKPARITY;
        case 's': case 'S': return SPACEPARITY;
        default: return NOPARITY;
    }
}

void ToSettings(const DCB& dcb, LineSettings& out) {
    out.baudRate = dcb.BaudRate;
    out.byteSize = dcb.ByteSize;
    out.parity = ParityLetter(dcb.Parity);
    out.stopBits = dcb.StopBits == TWOSTOPBITS ? 2 : 1;
}

void ApplySettings(const LineSettings& settings, DCB& dcb) {
    dcb.BaudRate = settings.baudRate;
    dcb.ByteSize = settings.byteSize;
    dcb.Parity = ParityCode(settings.parity);
    dcb.fParity = dcb.Parity != NOPARITY ? TRUE : FALSE;
    dcb.StopBits = settings.stopBits == 2 ? TWOSTOPBITS : ONESTOPBIT;
}

class WindowsComPort final : public ComPort {
public:
    WindowsComPort(HANDLE handle, int32_t portNumber, bool virtualCard)
        : handle_(handle), portNumber_(portNumber), virtualCard_(virtualCard) {}
    ~WindowsComPort() override { ::CloseHandle(handle_); }
    WindowsComPort(const WindowsComPort&) = delete;
    WindowsComPort& operator=(const WindowsComPort&) = delete;

    bool SetLine(const LineSettings& wanted) override {
        LineSettings settings;
        DCB dcb = CurrentState(settings);
        DCB built = dcb;
        ApplySettings(settings, built);
        // A rejected text leaves the device's settings.
        if (::BuildCommDCBW(win32::Wide(ModeText(wanted)), &built)) {
            dcb = built;
            ToSettings(dcb, settings);
        }
        ApplySettings(settings, dcb);
        return ::SetCommState(handle_, &dcb) != FALSE;
    }

    bool SetupComm(uint32_t inQueue, uint32_t outQueue) override { return ::SetupComm(handle_, inQueue, outQueue) != FALSE; }
    bool SetCommMask(uint32_t mask) override { return ::SetCommMask(handle_, mask) != FALSE; }

    bool SetCommTimeouts(const PortTimeouts& timeouts) override {
        COMMTIMEOUTS native{};
        native.ReadIntervalTimeout = timeouts.readIntervalTimeout;
        native.ReadTotalTimeoutMultiplier = timeouts.readTotalTimeoutMultiplier;
        native.ReadTotalTimeoutConstant = timeouts.readTotalTimeoutConstant;
        native.WriteTotalTimeoutMultiplier = timeouts.writeTotalTimeoutMultiplier;
        native.WriteTotalTimeoutConstant = timeouts.writeTotalTimeoutConstant;
        return ::SetCommTimeouts(handle_, &native) != FALSE;
    }

    bool PurgeComm(uint32_t flags) override { return ::PurgeComm(handle_, flags) != FALSE; }

    uint32_t QueuedInput() override {
        DWORD errors = 0;
        COMSTAT status{};
        if (!::ClearCommError(handle_, &errors, &status)) return 0;
        return status.cbInQue;
    }

    uint32_t Read(uint8_t* buffer, uint32_t count) override {
        if (buffer == nullptr || count == 0) return 0;
        DWORD done = 0;
        if (!::ReadFile(handle_, buffer, count, &done, nullptr)) return 0;
        return done;
    }

    uint32_t Write(const uint8_t* data, uint32_t count) override {
        if (data == nullptr || count == 0) return 0;
        DWORD done = 0;
        if (!::WriteFile(handle_, data, count, &done, nullptr)) return 0;
        return done;
    }

    bool IsVirtualCard() const override { return virtualCard_; }

private:
    // The device's DCB and its settings; an empty DCB (and settings) when it
    // cannot be read.
    DCB CurrentState(LineSettings& settings) {
        DCB dcb{};
        dcb.DCBlength = sizeof(DCB);
        if (!::GetCommState(handle_, &dcb)) {
            dcb = DCB{};
            dcb.DCBlength = sizeof(DCB);
            return dcb;
        }
        ToSettings(dcb, settings);
        return dcb;
    }

    std::u16string ModeText(const LineSettings& settings) const {
        return FormatWide(u"COM%d: %d, %c, %d, %d", portNumber_, static_cast<int>(settings.baudRate), settings.parity,
                          static_cast<int>(settings.byteSize), static_cast<int>(settings.stopBits));
    }

    HANDLE handle_;
    int32_t portNumber_;
    bool virtualCard_;
};

bool RunningUnderWine() {
    HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
    return ntdll != nullptr && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

// The Unix path of the device an open port reaches under Wine: the port's
// dosdevices link (comN) resolved, as the handle's final path, turned back
// into a Unix path by Wine's own conversion. "" when any step fails.
std::string UnixPathUnderWine(HANDLE handle) {
    using UnixNameFunction = char*(CDECL*)(const wchar_t*);
    HMODULE kernel32 = ::GetModuleHandleW(L"kernel32.dll");
    const auto toUnix = kernel32 == nullptr ? nullptr
                                            : reinterpret_cast<UnixNameFunction>(reinterpret_cast<void*>(
                                                  ::GetProcAddress(kernel32, "wine_get_unix_file_name")));
    constexpr DWORD kRoom = 1024;
    wchar_t finalPath[kRoom];
    const DWORD length = ::GetFinalPathNameByHandleW(handle, finalPath, kRoom, FILE_NAME_NORMALIZED);
    if (toUnix == nullptr || length == 0 || length >= kRoom) return {};
    char* unixPath = toUnix(finalPath);
    if (unixPath == nullptr) return {};
    std::string path(unixPath);
    ::HeapFree(::GetProcessHeap(), 0, unixPath);
    return path;
}

// On Windows itself a port is always a real device's. Under Wine it is a
// virtual card's only when its dosdevices link leads to a pseudo-terminal;
// a COM port on a real serial device gets every pause at full length.
bool IsVirtualCardPort(HANDLE handle) { return RunningUnderWine() && IsPseudoTerminalUnixPath(UnixPathUnderWine(handle)); }

class WindowsComPortOpener final : public ComPortOpener {
public:
    std::unique_ptr<ComPort> Open(const std::u16string& deviceName, int32_t portNumber) override {
        HANDLE handle = ::CreateFileW(win32::Wide(deviceName), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
        if (handle == INVALID_HANDLE_VALUE) return nullptr;
        return std::make_unique<WindowsComPort>(handle, portNumber, IsVirtualCardPort(handle));
    }
};

}  // namespace

std::unique_ptr<ComPortOpener> MakeDefaultComPortOpener() { return std::make_unique<WindowsComPortOpener>(); }

}  // namespace platform

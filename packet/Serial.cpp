// CSerial: opens the card's COM port by number, applies the fixed line
// settings, driver queues, event mask and timeouts, and purges and closes it.
#include "packet/Serial.h"

#include "platform/Platform.h"
#include "platform/Trace.h"

#define SERIAL_TRACE(function, ...) ::platform::WriteLog(FW_SERIAL_SOURCE, __LINE__, function, __VA_ARGS__)

namespace packet {

namespace {

constexpr const char16_t* kOpenFunction = u"CSerial::Open";
constexpr const char16_t* kCloseFunction = u"CSerial::Close";
constexpr int kOpenTries = 20;
constexpr uint32_t kOpenRetryPauseMs = 100;
constexpr platform::LineSettings kLine{115200, 8, 'n', 1};
constexpr uint32_t kQueueSize = 4096;
// EV_CTS | EV_DSR | EV_RLSD | EV_BREAK
constexpr uint32_t kEventMask = 0x78;

// A read returns after at most 10 ms with what has arrived; a write of n
// bytes may take 2 n + 500 ms.
constexpr platform::PortTimeouts kTimeouts{0, 0, 10, 2, 500};

}  // namespace

CSerial::CSerial() = default;

CSerial::~CSerial() { Close(); }

bool CSerial::Open(int32_t portNumber) {
    if (open_ != 0) {
        return true;
    }
    portNumber_ = portNumber;
    SERIAL_TRACE(kOpenFunction, u"Function: CSerial::Open");
    std::unique_ptr<platform::ComPort> port = OpenWithRetries(portNumber);
    if (port == nullptr) {
        return false;
    }
    // The line is traced in the steps the Windows port takes to set it.
    SERIAL_TRACE(kOpenFunction, u"Function: CSerial::CommTimeOuts");
    SERIAL_TRACE(kOpenFunction, u"Function: CSerial::GetCommState");
    SERIAL_TRACE(kOpenFunction, u"Function: CSerial::BuildCommDCB");
    SERIAL_TRACE(kOpenFunction, u"Function: CSerial::SetCommState");
    if (!port->SetLine(kLine) || !port->SetupComm(kQueueSize, kQueueSize) || !port->SetCommMask(kEventMask) ||
        !port->SetCommTimeouts(kTimeouts)) {
        return false;   // the port object closes the device
    }

    port_ = std::move(port);
    open_ = 1;
    SERIAL_TRACE(kOpenFunction, u"Function: CSerial::PurgeComm");
    (void)port_->PurgeComm(platform::kPurgeAll);   // a fresh port: nothing to lose if the purge fails
    return true;
}

bool CSerial::Reopen() {
    Close();
    return Open(portNumber_);
}

int32_t CSerial::PortNumber() const { return portNumber_; }

std::unique_ptr<platform::ComPort> CSerial::OpenWithRetries(int32_t portNumber) {
    const std::u16string deviceName = platform::FormatWide(u"//./COM%d", portNumber);
    SERIAL_TRACE(kOpenFunction, u"Function: CSerial::CreateFile");
    SERIAL_TRACE(kOpenFunction, u"Current Port is %d.......", portNumber);
    for (int attempt = 0; attempt < kOpenTries; ++attempt) {
        std::unique_ptr<platform::ComPort> port = platform::OpenComPort(deviceName, portNumber);
        if (port != nullptr) {
            SERIAL_TRACE(kOpenFunction, u"Function: CSerial::break");
            return port;
        }
        SERIAL_TRACE(kOpenFunction, u"Function: CSerial::CreateFile fail");
        if (attempt + 1 < kOpenTries) {
            platform::Sleep(kOpenRetryPauseMs);
        }
    }
    return nullptr;
}

bool CSerial::Close() {
    if (open_ != 0 && port_ != nullptr) {
        SERIAL_TRACE(kCloseFunction, u"Function: CSerial::PurgeComm close");
        (void)port_->PurgeComm(platform::kPurgeAll);   // the port closes whatever the purge gave
        port_.reset();
        open_ = 0;
    }
    return true;
}

bool CSerial::IsOpen() const { return open_ != 0 && port_ != nullptr; }

bool CSerial::Purge(uint32_t flags) { return IsOpen() && port_->PurgeComm(flags); }

uint32_t CSerial::QueuedInput() { return IsOpen() ? port_->QueuedInput() : 0; }

uint32_t CSerial::Read(uint8_t* buffer, uint32_t count) {
    const uint32_t got = IsOpen() ? port_->Read(buffer, count) : 0;
    if (got > 0) answeredSinceWrite_ = true;
    return got;
}

uint32_t CSerial::Write(const uint8_t* data, uint32_t count) {
    answeredSinceWrite_ = false;
    return IsOpen() ? port_->Write(data, count) : 0;
}

}  // namespace packet

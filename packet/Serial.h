// CSerial: the COM port of the card, opened by number with fixed line
// settings, driver queues and timeouts. It does no protocol work of its own;
// CPacket and a few commands write, poll and read through it.
#pragma once

#include <cstdint>
#include <memory>

#include "platform/Platform.h"

namespace packet {

class CSerial {
public:
    CSerial();
    ~CSerial();
    CSerial(const CSerial&) = delete;
    CSerial& operator=(const CSerial&) = delete;

    // Opens COM n (up to 20 tries 100 ms apart) and configures it; the number
    // is kept for Reopen. An object that is already open answers true at
    // once, whatever number is asked.
    [[nodiscard]] bool Open(int32_t portNumber);
    // Closes the port if open and opens the port number of the last Open
    // again: the card comes back under it after each restart.
    [[nodiscard]] bool Reopen();
    // The number of the last Open (0 before any).
    int32_t PortNumber() const;
    // Purges and closes the port when it is open; always true.
    bool Close();
    bool IsOpen() const;

    // Thin I/O over the open port; a closed port reads and counts nothing.
    bool Purge(uint32_t flags = platform::kPurgeAll);
    uint32_t QueuedInput();
    uint32_t Read(uint8_t* buffer, uint32_t count);
    uint32_t Write(const uint8_t* data, uint32_t count);
    // Some bytes came back after the last write: a command that failed was
    // answered (wrongly), not met with silence.
    bool AnsweredSinceLastWrite() const { return answeredSinceWrite_; }

private:
    std::unique_ptr<platform::ComPort> OpenWithRetries(int32_t portNumber);

    std::unique_ptr<platform::ComPort> port_;
    bool answeredSinceWrite_ = false;
    uint32_t open_ = 0;
    int32_t portNumber_ = 0;
};

}  // namespace packet

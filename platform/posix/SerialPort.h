// The POSIX COM port: a tty device (USB serial adapter or pseudo-terminal)
// driven with termios so that it behaves like the Windows port the protocol
// code was written against: raw 8N1 line, a receive-queue count, purge, reads
// that give up after the read timeout with what has arrived, and writes bounded
// by the write timeouts.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <string>

#include "platform/Platform.h"

namespace platform {

// The device path of COM n: the pattern's %d replaced by n, or the pattern
// itself when it names a fixed path. The pattern comes from the environment
// variable FWUPGRADE_PORT_PATTERN, default "/dev/ttyUSB%d".
std::string ComPortDevicePath(int32_t portNumber);
std::string ComPortDevicePath(const std::string& pattern, int32_t portNumber);

// Opens a tty device as a COM port; nullptr when it cannot be opened or is
// held by another port object.
std::unique_ptr<ComPort> OpenPosixComPort(const std::string& devicePath);
// True for the slave side of a pseudo-terminal (a virtual card's port): a
// character device of the Unix98 pseudo-terminal majors. A serial device of
// any other driver (ttyS, ttyUSB, ttyACM), a regular file or /dev/ptmx is not.
bool IsPseudoTerminalNode(mode_t mode, dev_t device);
// The same for an open descriptor, and for a path (links followed).
bool IsPseudoTerminal(int fd);
bool IsPseudoTerminalPath(const std::string& path);

// Baud rates the POSIX backend can set; 0 when termios has no such speed.
uint32_t TermiosSpeedOf(uint32_t baudRate);

}  // namespace platform

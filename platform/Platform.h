// The one boundary between the module and the operating system.
//
// Everything above this folder is portable: it reaches the serial port, the
// registry, libraries, resources, files, time, code pages and the message box
// only through the declarations below. There is a POSIX backend (the everyday
// build) and a Win32 backend (the 32-bit DLL); both keep the Windows semantics
// the module was written against.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace platform {

// ---------------------------------------------------------------- time ----

struct LocalTime {
    int year = 0;    // four digits, e.g. 2027
    int month = 0;   // 1-12
    int day = 0;     // 1-31
    int hour = 0;
    int minute = 0;
    int second = 0;
};

class ComPort;

// Tick count, sleeps and the calendar. The real clock is the default and the
// only one a real device ever sees; tests install their own.
class Clock {
public:
    virtual ~Clock() = default;
    virtual uint32_t TickCount() = 0;                 // GetTickCount: milliseconds, wraps
    virtual void Sleep(uint32_t milliseconds) = 0;    // Sleep
    [[nodiscard]] virtual bool Now(LocalTime& out) = 0;   // local calendar time; false when unavailable
    // Told of every port OpenComPort opens; a clock that may run faster asks
    // the port whether it is a virtual card's.
    virtual void PortOpened(const ComPort& port) {}
};

Clock& GetClock();
// Installs a replacement clock (not owned); nullptr restores the real one.
void SetClock(Clock* clock);
// The operating system's clock, defined by the backend; GetClock falls back
// to it and ScaledClock takes its calendar from it.
Clock& RealClock();

inline uint32_t TickCount() { return GetClock().TickCount(); }
inline void Sleep(uint32_t milliseconds) { GetClock().Sleep(milliseconds); }

uint32_t CurrentThreadId();

// The calendar time in UTC, from the operating system (not the replaceable
// clock): it stamps files that outlive the run. False when unavailable.
[[nodiscard]] bool UtcNow(LocalTime& out);

// ---------------------------------------------------------------- text ----

// The ANSI code page of the process (CP_ACP). POSIX takes it from the locale
// unless a caller names another one ("CP936", "UTF-8", ...).
void SetAnsiCodePage(const std::string& name);
std::string AnsiCodePage();

// MultiByteToWideChar / WideCharToMultiByte. Conversions never throw; bytes
// that do not convert become '?' (narrowing) or U+FFFD (widening).
std::u16string AnsiToWide(const std::string& ansi);
std::string WideToAnsi(const std::u16string& wide);
std::u16string Utf8ToWide(const std::string& utf8);
std::string WideToUtf8(const std::u16string& wide);

// ---------------------------------------------------------------- serial ----

// Line settings and timeouts as the Win32 DCB and COMMTIMEOUTS carry them.
struct LineSettings {
    uint32_t baudRate = 0;
    uint8_t byteSize = 0;
    char parity = 'n';       // 'n', 'e', 'o'
    uint8_t stopBits = 1;
};

struct PortTimeouts {
    uint32_t readIntervalTimeout = 0;
    uint32_t readTotalTimeoutMultiplier = 0;
    uint32_t readTotalTimeoutConstant = 0;
    uint32_t writeTotalTimeoutMultiplier = 0;
    uint32_t writeTotalTimeoutConstant = 0;
};

enum PurgeFlags : uint32_t {
    kPurgeTxAbort = 0x0001,
    kPurgeRxAbort = 0x0002,
    kPurgeTxClear = 0x0004,
    kPurgeRxClear = 0x0008,
    kPurgeAll = 0x000F,
};

// One open COM port. Mirrors the Win32 calls the serial layer makes, so the
// Win32 backend is a thin wrapper and the POSIX one maps each call to termios.
class ComPort {
public:
    virtual ~ComPort() = default;
    // Sets baud rate, byte size, parity and stop bits; the driver's other
    // line settings (flow control, ...) stay as the device has them.
    [[nodiscard]] virtual bool SetLine(const LineSettings& settings) = 0;
    [[nodiscard]] virtual bool SetupComm(uint32_t inQueue, uint32_t outQueue) = 0;
    [[nodiscard]] virtual bool SetCommMask(uint32_t mask) = 0;
    [[nodiscard]] virtual bool SetCommTimeouts(const PortTimeouts& timeouts) = 0;
    [[nodiscard]] virtual bool PurgeComm(uint32_t flags) = 0;
    // ClearCommError's cbInQue: bytes waiting in the receive queue.
    [[nodiscard]] virtual uint32_t QueuedInput() = 0;
    // ReadFile / WriteFile: returns the count transferred. A read returns
    // after the read timeout with whatever has arrived.
    [[nodiscard]] virtual uint32_t Read(uint8_t* buffer, uint32_t count) = 0;
    [[nodiscard]] virtual uint32_t Write(const uint8_t* data, uint32_t count) = 0;
    // A virtual card's port: a pseudo-terminal on POSIX, under Wine a COM
    // port whose dosdevices link leads to a pseudo-terminal (never on Windows
    // itself), an in-process card. Only such a port
    // lets a sped-up clock shorten the device pauses; a port that does not
    // say otherwise is a real device's.
    virtual bool IsVirtualCard() const { return false; }
};

// Opens COM port n ("//./COM%d" on Windows; a device path from a pattern on
// POSIX). Tests install their own opener to reach an in-process card.
class ComPortOpener {
public:
    virtual ~ComPortOpener() = default;
    // CreateFileW on the device name; nullptr when the port does not open.
    [[nodiscard]] virtual std::unique_ptr<ComPort> Open(const std::u16string& deviceName, int32_t portNumber) = 0;
};

ComPortOpener& GetComPortOpener();
void SetComPortOpener(ComPortOpener* opener);   // not owned; nullptr restores the real one

// Opens a port through the installed opener and tells the clock about it.
[[nodiscard]] std::unique_ptr<ComPort> OpenComPort(const std::u16string& deviceName, int32_t portNumber);

// The backend's own opener, created once by GetComPortOpener on first use.
// Each backend defines it next to its ComPort (posix/, win32/).
std::unique_ptr<ComPortOpener> MakeDefaultComPortOpener();

// ---------------------------------------------------------------- registry ----

// Keys under HKEY_CURRENT_USER. An opaque handle; nullptr is "not open".
struct RegistryKeyImpl;
using RegistryKey = RegistryKeyImpl*;

// Creates (or opens) a key below HKEY_CURRENT_USER (parent nullptr) or below
// an open key; path parts are separated by '\\'. nullptr on failure.
[[nodiscard]] RegistryKey RegCreateKey(RegistryKey parent, const std::u16string& path);
// Opens an existing key; nullptr when it does not exist.
[[nodiscard]] RegistryKey RegOpenKey(RegistryKey parent, const std::u16string& path);
void RegCloseKey(RegistryKey key);
// REG_SZ written with exactly the given bytes (the caller decides on a NUL).
[[nodiscard]] bool RegSetString(RegistryKey key, const std::u16string& valueName, const char16_t* data, uint32_t byteCount);
// Size in bytes of a value; false when it does not exist.
[[nodiscard]] bool RegQueryValueSize(RegistryKey key, const std::u16string& valueName, uint32_t& byteCount);
// Reads at most byteCount bytes of the value; byteCount becomes the count read.
[[nodiscard]] bool RegQueryString(RegistryKey key, const std::u16string& valueName, char16_t* buffer, uint32_t& byteCount);
// Deletes a subkey that has no subkeys of its own.
[[nodiscard]] bool RegDeleteKey(RegistryKey parent, const std::u16string& subKey);
// Name of the index-th subkey; false when there is none.
[[nodiscard]] bool RegEnumKey(RegistryKey key, uint32_t index, std::u16string& name);

// ---------------------------------------------------------------- libraries ----

using LibraryHandle = void*;

[[nodiscard]] LibraryHandle LoadLibrary(const std::u16string& path);   // nullptr on failure
[[nodiscard]] void* GetProcAddress(LibraryHandle library, const char* name);
// Full file name of a loaded library; nullptr names the host executable.
std::u16string GetModuleFileName(LibraryHandle library);
// The handle of the library that contains this code (the module's own).
LibraryHandle OwnLibraryHandle();

// The library's own resources (FindResourceW / LoadResource / SizeofResource).
// Returns false when the resource is not there.
[[nodiscard]] bool LoadOwnResource(const std::u16string& type, uint32_t id, const uint8_t*& data, uint32_t& size);
// POSIX has no resource section: data linked into the library registers
// itself here (from a static initialiser or before first use). The Win32
// backend finds resources in the DLL's resource section and ignores this.
void RegisterEmbeddedResource(const std::u16string& type, uint32_t id, const uint8_t* data, uint32_t size);

// ---------------------------------------------------------------- files ----

// One open file of a FileSystem. Reads and writes move one position.
class FileHandle {
public:
    virtual ~FileHandle() = default;
    virtual uint64_t Length() = 0;
    [[nodiscard]] virtual bool Seek(uint64_t offset) = 0;
    // Returns the count actually transferred (buffers are never null).
    [[nodiscard]] virtual uint32_t Read(uint8_t* buffer, uint32_t count) = 0;
    [[nodiscard]] virtual uint32_t Write(const uint8_t* data, uint32_t count) = 0;
    // Forces written data to the disk.
    [[nodiscard]] virtual bool Flush() = 0;
};

// Files and folders as the operating system keeps them. The real one is the
// default; tests install their own (a disk that loses what was not synced).
class FileSystem {
public:
    virtual ~FileSystem() = default;
    // An existing regular file for reading (others may read but not write);
    // nullptr when it cannot be opened.
    [[nodiscard]] virtual std::unique_ptr<FileHandle> OpenRead(const std::u16string& path) = 0;
    // Creates or truncates a file for writing; nullptr on failure.
    [[nodiscard]] virtual std::unique_ptr<FileHandle> CreateWrite(const std::u16string& path) = 0;
    [[nodiscard]] virtual bool CreateDirectory(const std::u16string& path) = 0;
    [[nodiscard]] virtual bool PathExists(const std::u16string& path) = 0;
    [[nodiscard]] virtual bool RemoveFile(const std::u16string& path) = 0;
    [[nodiscard]] virtual bool ReplaceFile(const std::u16string& source, const std::u16string& target) = 0;
    [[nodiscard]] virtual std::vector<std::u16string> ListFolder(const std::u16string& folder) = 0;
    [[nodiscard]] virtual bool SyncFolder(const std::u16string& folder) = 0;
};

FileSystem& GetFileSystem();
void SetFileSystem(FileSystem* fileSystem);   // not owned; nullptr restores the real one
// The backend's own file system, created once by GetFileSystem on first use.
std::unique_ptr<FileSystem> MakeDefaultFileSystem();

class File {
public:
    File() = default;
    ~File();
    File(const File&) = delete;
    File& operator=(const File&) = delete;
    File(File&& other) noexcept;
    File& operator=(File&& other) noexcept;

    // Opens an existing file for reading; others may read but not write.
    [[nodiscard]] bool OpenRead(const std::u16string& path);
    // Creates or truncates a file for writing.
    [[nodiscard]] bool CreateWrite(const std::u16string& path);
    bool IsOpen() const;
    void Close();

    uint64_t Length();
    [[nodiscard]] bool Seek(uint64_t offset);
    // Returns the count actually transferred.
    [[nodiscard]] uint32_t Read(uint8_t* buffer, uint32_t count);
    [[nodiscard]] uint32_t Write(const uint8_t* data, uint32_t count);
    // Forces written data to the disk.
    [[nodiscard]] bool Flush();

private:
    std::unique_ptr<FileHandle> handle_;
};

[[nodiscard]] bool CreateDirectory(const std::u16string& path);
// A new folder whose entry survives a power cut: created, then its parent
// synced. False when it cannot be created or its parent cannot be synced
// (the folder then exists, but may not survive a power cut).
[[nodiscard]] bool CreateDurableDirectory(const std::u16string& path);
// The folder and every missing parent, each made as CreateDurableDirectory
// makes it; true when the folder exists afterwards.
[[nodiscard]] bool CreateDurableFolders(const std::u16string& path);
// FindFirstFileW: true when something exists under that name.
[[nodiscard]] bool PathExists(const std::u16string& path);
[[nodiscard]] bool RemoveFile(const std::u16string& path);
// Replaces target with source in one step (rename over).
[[nodiscard]] bool ReplaceFile(const std::u16string& source, const std::u16string& target);
// Everything up to (not including) the last path separator.
std::u16string RemoveFileSpec(const std::u16string& path);
// The separator this build writes between folder and file name.
char16_t PathSeparator();
// The current folder of the process, as an absolute path ("" when unknown).
std::u16string CurrentFolder();
// Names of the entries of a folder (without "." and ".."), in no set order;
// empty when the folder cannot be read.
std::vector<std::u16string> ListFolder(const std::u16string& folder);
// Makes a rename or a new entry inside the folder durable (fsync of the
// folder on POSIX, true as well on a file system that cannot sync folders at
// all; on Windows renames write through and NTFS journals new entries, so
// there is nothing to do).
[[nodiscard]] bool SyncFolder(const std::u16string& folder);
// A per-user folder for data the module writes when the executable's folder
// is not writable; made (durably) when missing.
std::u16string UserDataFolder();
// Makes UserDataFolder answer `folder` ("" restores the usual one).
void SetUserDataFolder(const std::u16string& folder);

// ---------------------------------------------------------------- user ----

// A message box with an OK button. POSIX prints the text to stderr.
void ShowMessageBox(const std::u16string& text);

// ---------------------------------------------------------------- backends ----
//
// Shared code (platform/*.cpp) defines GetClock, SetClock,
// GetComPortOpener, SetComPortOpener, OpenComPort, the file system seam with
// File and the file functions that go through it, and the trace calls of
// Trace.h. A backend (platform/posix/ or platform/win32/) defines every other
// function above, RealClock, MakeDefaultComPortOpener and
// MakeDefaultFileSystem.

}  // namespace platform

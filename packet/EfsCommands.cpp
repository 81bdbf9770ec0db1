// The EFS2 file commands of the card's diagnostic port (subsystem 0x13 of
// command 0x4B): list a directory, open, stat, read, write and close a file;
// and the file-system operation that switches lock-file access on and off.
// EFS2 requests go out as raw bodies and their answers are checked here.
#include <cstring>

#include "packet/Codec.h"
#include "packet/Packet.h"
#include "packet/PacketState.h"
#include "platform/Platform.h"

namespace packet {

namespace {

constexpr uint8_t kSubsystemCommand = 0x4B;
constexpr uint8_t kEfs2Subsystem = 0x13;
constexpr uint16_t kEfsOpen = 0x0002;
constexpr uint16_t kEfsClose = 0x0003;
constexpr uint16_t kEfsRead = 0x0004;
constexpr uint16_t kEfsWrite = 0x0005;
constexpr uint16_t kEfsOpenDir = 0x000B;
constexpr uint16_t kEfsReadDir = 0x000C;
constexpr uint16_t kEfsCloseDir = 0x000D;
constexpr uint16_t kEfsFstat = 0x0011;
constexpr uint32_t kEfsNoSuchEntry = 2;   // ENOENT
constexpr uint32_t kOpenForReadFlags = 0x000;
constexpr uint32_t kOpenForReadMode = 0x124;    // octal 444
constexpr uint32_t kOpenForWriteFlags = 0x241;  // create, truncate, write only
constexpr uint32_t kOpenForWriteMode = 0x1B6;   // octal 666
constexpr size_t kReadDataOffset = 20;
constexpr size_t kDirNameOffset = 40;
// The fields each answer must carry (header included): the last one read ends there.
constexpr size_t kOpenDirAnswerSize = 8;    // header, directory handle
constexpr size_t kCloseAnswerSize = 8;      // header, error number (close and closedir)
constexpr size_t kOpenAnswerSize = 12;      // header, descriptor, error number
constexpr size_t kFstatAnswerSize = 16;     // header, error number, mode, size
constexpr size_t kWriteAnswerSize = 20;     // header, descriptor, offset, count, error number
constexpr uint8_t kFileSystemOperation = 0x59;
constexpr uint8_t kLockFileAccess = 0x0E;

BodyWriter EfsHeader(PacketState& s, uint16_t command) {
    s.mode = PacketMode::Raw;
    BodyWriter body(s);
    body.U8(kSubsystemCommand);
    body.U8(kEfs2Subsystem);
    body.Le16(command);
    return body;
}

void WritePath(BodyWriter& body, const std::u16string& path) {
    const std::string utf8 = platform::WideToUtf8(path);
    body.Bytes(reinterpret_cast<const uint8_t*>(utf8.data()), utf8.size());
    body.U8(0);
}

uint32_t WorkLe32(const PacketState& s, size_t at) {
    uint32_t value = 0;
    for (size_t i = 0; i < 4 && at + i < sizeof s.efsWork; ++i) {
        value |= static_cast<uint32_t>(s.efsWork[at + i]) << (8 * i);
    }
    return value;
}

// Bytes of the unescaped answer before its FCS and closing flag.
size_t EfsBodyLength(const PacketState& s) { return s.efsLength >= 3 ? s.efsLength - 3 : 0; }

}  // namespace

const char* CPacket::FileSystemStatusText(uint8_t status) {
    static const char* const kTexts[] = {
        "",
        "Low-level operation failed!",
        "Operation is queued or in progress!",
        "File needs to be opened for this operation!",
        "File needs to be closed for this operation!",
        "File already exists!",
        "File does not exist!",
        "User directory already exists!",
        "User directory does not exist!",
        "User directory not empty for remove!",
        "Client specified an unknown operation!",
        "Client specified an invalid operation!",
        "Client supplied a bad parameter value!",
        "Client specified invalid file/directory name!",
        "Client specified invalid file handle",
        "Client specified an invalid SEEK position",
        "Client supplied an invalid truncate position",
        "Operation invalid for remote files!",
        "Invalid confirmation code specified!",
        "End of file reached!",
        "More records exist to be processed!",
        "Garbage Collection in progress!",
        "Out of file system space!",
        "File block is full!",
        "Out of Master Directory space!",
        "Out of File Block List free pool space!",
        "Out of open-file table slots!",
        "Invalid enumeration iterator control struct!",
        "Enumeration operation completed!",
        "Maximum number of remote links reached!",
        "Removable media not inserted!",
        "Media has been changed since opened!",
    };
    if (status >= 1 && status < sizeof kTexts / sizeof kTexts[0]) {
        return kTexts[status];
    }
    return "Unknown reason!";
}

// Runs the raw request placed in the request buffer and unescapes its answer
// into the work buffer. True when the answer's FCS checks and its body holds
// at least bodySize bytes: a field the answer did not carry is never read as
// zero, which would pass for a success code, a handle or a file's length.
bool CPacket::SendEfs(bool clearTextOnTransportFailure, size_t bodySize) {
    State& s = *state_;
    std::memset(s.efsWork, 0, sizeof s.efsWork);
    s.efsLength = 0;
    if (s.requestOverflow) {
        s.errorText = kTextRequestTooLarge;
        return false;
    }
    if (!SendPacket(1, 5000)) {
        if (clearTextOnTransportFailure) {
            s.errorText = s.composedText;
        }
        return false;
    }
    const codec::UnescapeResult plain =
        codec::Unescape(std::span<const uint8_t>(s.responseBuffer, s.responseLength), s.efsWork);
    s.efsLength = static_cast<uint32_t>(plain.length);
    // The count includes the closing flag, which the check leaves out.
    if (plain.length < 1 || !CheckFcs(s.efsWork, static_cast<uint16_t>(plain.length - 1))) {
        return false;
    }
    if (EfsBodyLength(s) < bodySize) {
        s.errorText = kTextTooShort;
        return false;
    }
    return true;
}

bool CPacket::EfsOpenDir(const std::u16string& path, uint32_t& handle) {
    ResetCommand();
    BodyWriter body = EfsHeader(*state_, kEfsOpenDir);
    WritePath(body, path);
    if (!SendEfs(true, kOpenDirAnswerSize)) {
        return false;
    }
    handle = WorkLe32(*state_, 4);
    return handle != 0;
}

bool CPacket::EfsDirectoryMissing() const {
    const State& s = *state_;
    return s.efsLength >= 12 && (s.efsWork[2] | s.efsWork[3] << 8) == kEfsOpenDir && WorkLe32(s, 8) == kEfsNoSuchEntry;
}

bool CPacket::EfsReadDir(uint32_t handle, uint32_t sequence, uint32_t& type, std::u16string& name) {
    ResetCommand();
    BodyWriter body = EfsHeader(*state_, kEfsReadDir);
    body.Le32(handle);
    body.Le32(sequence);
    if (!SendEfs(true, kDirNameOffset + 1) || WorkLe32(*state_, 12) != 0) {
        return false;
    }
    State& s = *state_;
    // The name ends with a NUL inside the answer; one cut short could make
    // the listing end early and leave lock files out of the backup.
    const char* text = reinterpret_cast<const char*>(s.efsWork + kDirNameOffset);
    const size_t room = EfsBodyLength(s) - kDirNameOffset;
    const size_t length = strnlen(text, room);
    if (length == room) {
        s.errorText = kTextTooShort;
        return false;
    }
    type = WorkLe32(s, 16);
    name = platform::AnsiToWide(std::string(text, length));
    return true;
}

bool CPacket::EfsCloseDir(uint32_t handle) {
    ResetCommand();
    BodyWriter body = EfsHeader(*state_, kEfsCloseDir);
    body.Le32(handle);
    return SendEfs(true, kCloseAnswerSize) && WorkLe32(*state_, 4) == 0;
}

bool CPacket::EfsOpen(const std::u16string& path, bool forReading, uint32_t& descriptor) {
    ResetCommand();
    BodyWriter body = EfsHeader(*state_, kEfsOpen);
    body.Le32(forReading ? kOpenForReadFlags : kOpenForWriteFlags);
    body.Le32(forReading ? kOpenForReadMode : kOpenForWriteMode);
    WritePath(body, path);
    if (!SendEfs(false, kOpenAnswerSize)) {
        return false;
    }
    descriptor = WorkLe32(*state_, 4);
    return WorkLe32(*state_, 8) == 0;
}

bool CPacket::EfsFstat(uint32_t descriptor, uint32_t& size) {
    ResetCommand();
    BodyWriter body = EfsHeader(*state_, kEfsFstat);
    body.Le32(descriptor);
    if (!SendEfs(false, kFstatAnswerSize)) {
        return false;
    }
    size = WorkLe32(*state_, 12);
    return WorkLe32(*state_, 4) == 0;
}

bool CPacket::EfsRead(uint32_t descriptor, uint32_t count, uint32_t offset, uint8_t* buffer, uint32_t bufferSize,
                      uint32_t& bytesRead) {
    ResetCommand();
    if (count > kPayloadSize) {
        state_->errorText = kTextRequestTooLarge;
        return false;
    }
    BodyWriter body = EfsHeader(*state_, kEfsRead);
    body.Le32(descriptor);
    body.Le32(count);
    body.Le32(offset);
    if (!SendEfs(false, kReadDataOffset)) {
        return false;
    }
    State& s = *state_;
    bytesRead = WorkLe32(s, 12);
    if (WorkLe32(s, 16) != 0) {
        return false;
    }
    // A count above the data carried would fill the backup with zeros.
    if (bytesRead > EfsBodyLength(s) - kReadDataOffset) {
        s.errorText = kTextTooShort;
        return false;
    }
    // The card's count is not trusted to fit the caller's buffer.
    size_t copy = bytesRead;
    copy = copy < bufferSize ? copy : bufferSize;
    copy = copy < sizeof s.efsWork - kReadDataOffset ? copy : sizeof s.efsWork - kReadDataOffset;
    if (copy != 0) {
        std::memcpy(buffer, s.efsWork + kReadDataOffset, copy);
    }
    return true;
}

bool CPacket::EfsWrite(uint32_t descriptor, uint32_t offset, const uint8_t* data, uint32_t length) {
    ResetCommand();
    if (length > kPayloadSize) {
        state_->errorText = kTextRequestTooLarge;
        return false;
    }
    BodyWriter body = EfsHeader(*state_, kEfsWrite);
    body.Le32(descriptor);
    body.Le32(offset);
    body.Bytes(data, length);
    return SendEfs(false, kWriteAnswerSize) && WorkLe32(*state_, 16) == 0;
}

bool CPacket::EfsClose(uint32_t descriptor) {
    ResetCommand();
    BodyWriter body = EfsHeader(*state_, kEfsClose);
    body.Le32(descriptor);
    return SendEfs(false, kCloseAnswerSize) && WorkLe32(*state_, 4) == 0;
}

bool CPacket::EnableDisableLockFileRW(uint8_t value) {
    ResetCommand();
    State& s = *state_;
    s.mode = PacketMode::Diag;
    s.request.command = kFileSystemOperation;
    s.request.fsOperation = kLockFileAccess;
    s.request.fsValue = value;
    if (!SendPacket(1, 5000)) {
        return false;
    }
    const uint8_t* r = s.response.bytes;
    return r[0] == kFileSystemOperation && r[1] == kLockFileAccess && r[2] == 0;
}

}  // namespace packet

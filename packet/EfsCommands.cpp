// The EFS2 file commands of the card's diagnostic port (subsystem 0x13 of
// command 0x4B): list a directory, open, stat, read, write and close a file;
// and the file-system operation that switches lock-file access on and off.
// EFS2 requests go out as raw bodies and their answers are checked here.
#include <cstring>

#include "packet/AnswerDecoders.h"
#include "packet/Codec.h"
#include "packet/Command.h"
#include "packet/Efs2Codes.h"
#include "packet/Packet.h"
#include "packet/PacketState.h"
#include "platform/Platform.h"

namespace packet {

namespace {

constexpr uint32_t kEfsNoSuchEntry = 2;   // ENOENT
constexpr uint32_t kOpenForReadFlags = 0x000;
constexpr uint32_t kOpenForReadMode = 0x124;    // octal 444
constexpr uint32_t kOpenForWriteFlags = 0x241;  // create, truncate, write only
constexpr uint32_t kOpenForWriteMode = 0x1B6;   // octal 666
constexpr size_t kReadDataOffset = answer::EfsReadAnswer::kDataAt;
constexpr size_t kDirNameOffset = answer::EfsReadDirAnswer::kNameAt;
constexpr size_t kFieldSize = 4;
// The fields each answer must carry (header included): the last one read ends there.
constexpr size_t kOpenDirAnswerSize = answer::EfsHandleAnswer::kHandleAt + kFieldSize;
constexpr size_t kCloseAnswerSize = answer::EfsStatusAnswer::kErrorAt + kFieldSize;
constexpr size_t kOpenAnswerSize = answer::EfsOpenAnswer::kErrorAt + kFieldSize;
constexpr size_t kFstatAnswerSize = answer::EfsFstatAnswer::kSizeAt + kFieldSize;
constexpr size_t kWriteAnswerSize = answer::EfsWriteAnswer::kErrorAt + kFieldSize;
// The directory's entry name ends with a NUL inside the answer.
constexpr size_t kReadDirAnswerSize = kDirNameOffset + 1;
constexpr uint8_t kLockFileAccess = 0x0E;

// The subsystem and EFS2 command behind the subsystem command code.
BodyWriter EfsHeader(PacketState& s, uint16_t command) {
    BodyWriter body(s);
    body.U8(efs2::kSubsystem);
    body.Le16(command);
    return body;
}

// EFS2 commands of a directory listing leave an empty text when the transport fails.
constexpr CommandSpec EfsSpec(size_t answerSize, bool listing) {
    return {.mode = PacketMode::Raw, .code = kSubsystemCommand, .exchange = Exchange::Efs, .attempts = 1,
            .timeoutMs = 5000, .answerSize = answerSize, .emptyTextOnTransportFailure = listing};
}

constexpr CommandSpec kOpenDirCommand = EfsSpec(kOpenDirAnswerSize, true);
constexpr CommandSpec kReadDirCommand = EfsSpec(kReadDirAnswerSize, true);
constexpr CommandSpec kCloseDirCommand = EfsSpec(kCloseAnswerSize, true);
constexpr CommandSpec kOpenCommand = EfsSpec(kOpenAnswerSize, false);
constexpr CommandSpec kFstatCommand = EfsSpec(kFstatAnswerSize, false);
constexpr CommandSpec kReadCommand = EfsSpec(kReadDataOffset, false);
constexpr CommandSpec kWriteCommand = EfsSpec(kWriteAnswerSize, false);
constexpr CommandSpec kCloseCommand = EfsSpec(kCloseAnswerSize, false);

bool LockFileAccessSwitched(const PacketState& s) {
    const uint8_t* r = s.response.bytes;
    return r[0] == kFileSystemOperation && r[answer::kFileSystemOperationAt] == kLockFileAccess &&
           r[answer::kFileSystemStatusAt] == 0;
}

constexpr CommandSpec kLockFileAccessCommand{.mode = PacketMode::Diag, .code = kFileSystemOperation,
                                             .attempts = 1, .timeoutMs = 5000,
                                             .accepted = LockFileAccessSwitched};

void WritePath(BodyWriter& body, const std::u16string& path) {
    const std::string utf8 = platform::WideToUtf8(path);
    body.Bytes(reinterpret_cast<const uint8_t*>(utf8.data()), utf8.size());
    body.U8(0);
}

// The unescaped EFS2 answer; zero past its end.
std::span<const uint8_t> EfsAnswer(const PacketState& s) { return s.efsWork; }

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
// at least the command's answer size: a field the answer did not carry is
// never read as zero, which would pass for a success code, a handle or a
// file's length.
bool CPacket::SendEfs(const CommandSpec& spec) {
    State& s = *state_;
    std::memset(s.efsWork, 0, sizeof s.efsWork);
    s.efsLength = 0;
    if (s.requestOverflow) {
        s.errorText = kTextRequestTooLarge;
        return false;
    }
    if (!SendPacket(spec.attempts, spec.timeoutMs)) {
        if (spec.emptyTextOnTransportFailure) {
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
    if (EfsBodyLength(s) < spec.answerSize) {
        s.errorText = kTextTooShort;
        return false;
    }
    return true;
}

bool CPacket::EfsOpenDir(const std::u16string& path, uint32_t& handle) {
    const auto request = [&](PacketState& s) {
        BodyWriter body = EfsHeader(s, efs2::kOpenDir);
        WritePath(body, path);
    };
    if (!RunCommand(kOpenDirCommand, request)) {
        return false;
    }
    handle = answer::EfsHandle(EfsAnswer(*state_)).handle;
    return handle != 0;
}

bool CPacket::EfsDirectoryMissing() const {
    const State& s = *state_;
    constexpr size_t kAnswerWithError = answer::EfsHandleAnswer::kErrorAt + kFieldSize;
    return s.efsLength >= kAnswerWithError && answer::EfsCommand(EfsAnswer(s)) == efs2::kOpenDir &&
           answer::EfsHandle(EfsAnswer(s)).error == kEfsNoSuchEntry;
}

bool CPacket::EfsReadDir(uint32_t handle, uint32_t sequence, uint32_t& type, std::u16string& name) {
    const auto request = [&](PacketState& s) {
        BodyWriter body = EfsHeader(s, efs2::kReadDir);
        body.Le32(handle);
        body.Le32(sequence);
    };
    if (!RunCommand(kReadDirCommand, request)) {
        return false;
    }
    State& s = *state_;
    const answer::EfsReadDirAnswer entry = answer::EfsReadDir(EfsAnswer(s));
    if (entry.error != 0) {
        return false;
    }
    // The name ends with a NUL inside the answer; one cut short could make
    // the listing end early and leave lock files out of the backup.
    const char* text = reinterpret_cast<const char*>(s.efsWork + kDirNameOffset);
    const size_t room = EfsBodyLength(s) - kDirNameOffset;
    const size_t length = strnlen(text, room);
    if (length == room) {
        s.errorText = kTextTooShort;
        return false;
    }
    type = entry.type;
    name = platform::AnsiToWide(std::string(text, length));
    return true;
}

bool CPacket::EfsCloseDir(uint32_t handle) {
    const auto request = [&](PacketState& s) { EfsHeader(s, efs2::kCloseDir).Le32(handle); };
    return RunCommand(kCloseDirCommand, request) && answer::EfsStatus(EfsAnswer(*state_)).error == 0;
}

bool CPacket::EfsOpen(const std::u16string& path, bool forReading, uint32_t& descriptor) {
    const auto request = [&](PacketState& s) {
        BodyWriter body = EfsHeader(s, efs2::kOpen);
        body.Le32(forReading ? kOpenForReadFlags : kOpenForWriteFlags);
        body.Le32(forReading ? kOpenForReadMode : kOpenForWriteMode);
        WritePath(body, path);
    };
    if (!RunCommand(kOpenCommand, request)) {
        return false;
    }
    const answer::EfsOpenAnswer opened = answer::EfsOpen(EfsAnswer(*state_));
    descriptor = opened.descriptor;
    return opened.error == 0;
}

bool CPacket::EfsFstat(uint32_t descriptor, uint32_t& size) {
    const auto request = [&](PacketState& s) { EfsHeader(s, efs2::kFstat).Le32(descriptor); };
    if (!RunCommand(kFstatCommand, request)) {
        return false;
    }
    const answer::EfsFstatAnswer stat = answer::EfsFstat(EfsAnswer(*state_));
    size = stat.size;
    return stat.error == 0;
}

bool CPacket::EfsRead(uint32_t descriptor, uint32_t count, uint32_t offset, uint8_t* buffer, uint32_t bufferSize,
                      uint32_t& bytesRead) {
    if (RefuseOversized(count, nullptr)) {
        return false;
    }
    const auto request = [&](PacketState& s) {
        BodyWriter body = EfsHeader(s, efs2::kRead);
        body.Le32(descriptor);
        body.Le32(count);
        body.Le32(offset);
    };
    if (!RunCommand(kReadCommand, request)) {
        return false;
    }
    State& s = *state_;
    const answer::EfsReadAnswer read = answer::EfsRead(EfsAnswer(s));
    bytesRead = read.count;
    if (read.error != 0) {
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
    if (RefuseOversized(length, nullptr)) {
        return false;
    }
    const auto request = [&](PacketState& s) {
        BodyWriter body = EfsHeader(s, efs2::kWrite);
        body.Le32(descriptor);
        body.Le32(offset);
        body.Bytes(data, length);
    };
    return RunCommand(kWriteCommand, request) && answer::EfsWrite(EfsAnswer(*state_)).error == 0;
}

bool CPacket::EfsClose(uint32_t descriptor) {
    const auto request = [&](PacketState& s) { EfsHeader(s, efs2::kClose).Le32(descriptor); };
    return RunCommand(kCloseCommand, request) && answer::EfsStatus(EfsAnswer(*state_)).error == 0;
}

bool CPacket::EnableDisableLockFileRW(uint8_t value) {
    return RunCommand(kLockFileAccessCommand, [value](PacketState& s) {
        s.request.fsOperation = kLockFileAccess;
        s.request.fsValue = value;
    });
}

}  // namespace packet

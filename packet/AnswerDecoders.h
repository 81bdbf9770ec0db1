// The fields of the card's answers, each at its named offset, read by pure
// functions over the decoded answer bytes (code first). A field past the end
// of the bytes reads as 0; the commands check an answer's length before
// trusting what is read from it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "packet/Packet.h"

namespace packet::answer {

using Bytes = std::span<const uint8_t>;

// ---- diagnostic answers
inline constexpr size_t kEsnAt = 1;
inline constexpr size_t kNvItemAt = 1;
inline constexpr size_t kNvDataAt = 3;
inline constexpr size_t kNvDataSize = 128;
inline constexpr size_t kNvStatusAt = kNvDataAt + kNvDataSize;
inline constexpr size_t kSubsystemAt = 1;
inline constexpr size_t kWiFiAddressAt = 4;
inline constexpr size_t kWiFiAddressSize = 6;
inline constexpr size_t kWiFiStatusAt = 10;
inline constexpr size_t kFileSystemOperationAt = 1;
inline constexpr size_t kFileSystemStatusAt = 2;

uint32_t Esn(Bytes answer);
uint16_t NvItem(Bytes answer);
uint16_t NvStatus(Bytes answer);

// ---- download-mode answers
inline constexpr size_t kNakReasonAt = 1;   // big-endian
inline constexpr size_t kProtocolVersionAt = 1;
inline constexpr size_t kMinimumVersionAt = 2;
inline constexpr size_t kMaximumWriteSizeAt = 3;
inline constexpr size_t kModelAt = 7;
inline constexpr size_t kFlashSizeCodeAt = 8;
inline constexpr size_t kDeviceTypeAt = 9;

uint16_t NakReason(Bytes answer);
// The boot downloader's parameters; codes out of their range read as 0.
ParamRecord Params(Bytes answer);

// ---- streaming download answers
inline constexpr size_t kBlockWrittenAddressAt = 1;
inline constexpr size_t kStreamErrorReasonAt = 1;

uint32_t BlockWrittenAddress(Bytes answer);
uint32_t StreamErrorReason(Bytes answer);

// ---- EFS2 answers: code, subsystem and the 16-bit command, then the fields
inline constexpr size_t kEfsCommandAt = 2;

struct EfsHandleAnswer {   // open directory
    static constexpr size_t kHandleAt = 4;
    static constexpr size_t kErrorAt = 8;
    uint32_t handle = 0;
    uint32_t error = 0;
};
struct EfsStatusAnswer {   // close, close directory
    static constexpr size_t kErrorAt = 4;
    uint32_t error = 0;
};
struct EfsOpenAnswer {
    static constexpr size_t kDescriptorAt = 4;
    static constexpr size_t kErrorAt = 8;
    uint32_t descriptor = 0;
    uint32_t error = 0;
};
struct EfsFstatAnswer {
    static constexpr size_t kErrorAt = 4;
    static constexpr size_t kSizeAt = 12;
    uint32_t error = 0;
    uint32_t size = 0;
};
struct EfsReadAnswer {
    static constexpr size_t kCountAt = 12;
    static constexpr size_t kErrorAt = 16;
    static constexpr size_t kDataAt = 20;
    uint32_t count = 0;
    uint32_t error = 0;
};
struct EfsWriteAnswer {
    static constexpr size_t kErrorAt = 16;
    uint32_t error = 0;
};
struct EfsReadDirAnswer {
    static constexpr size_t kErrorAt = 12;
    static constexpr size_t kTypeAt = 16;
    static constexpr size_t kNameAt = 40;
    uint32_t error = 0;
    uint32_t type = 0;
};

uint16_t EfsCommand(Bytes answer);
EfsHandleAnswer EfsHandle(Bytes answer);
EfsStatusAnswer EfsStatus(Bytes answer);
EfsOpenAnswer EfsOpen(Bytes answer);
EfsFstatAnswer EfsFstat(Bytes answer);
EfsReadAnswer EfsRead(Bytes answer);
EfsWriteAnswer EfsWrite(Bytes answer);
EfsReadDirAnswer EfsReadDir(Bytes answer);

}  // namespace packet::answer

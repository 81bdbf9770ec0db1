#include "packet/AnswerDecoders.h"

#include <cstring>

#include "packet/ByteOrder.h"

namespace packet::answer {

namespace {

using bytes::ReadLe32;
using bytes::ReadU8;

constexpr uint8_t kDeviceTypeLimit = 35;
constexpr uint8_t kFlashSizeCodeLimit = 7;

uint32_t FlashSizeOfCode(uint8_t code) {
    switch (code) {
        case 1: return 0x80000;
        case 2:
        case 3: return 0x100000;
        case 4: return 0x200000;
        case 5: return 0x400000;
        case 6: return 0x800000;
        default: return 0;
    }
}

uint8_t BelowOrZero(uint8_t value, uint8_t limit) { return value < limit ? value : 0; }

void SetUnknown(char* text) { std::memcpy(text, "Unknown", sizeof "Unknown"); }

}  // namespace

uint32_t Esn(Bytes answer) { return ReadLe32(answer, kEsnAt); }
uint16_t NvItem(Bytes answer) { return bytes::ReadLe16(answer, kNvItemAt); }
uint16_t NvStatus(Bytes answer) { return bytes::ReadLe16(answer, kNvStatusAt); }

uint16_t NakReason(Bytes answer) { return bytes::ReadBe16(answer, kNakReasonAt); }

ParamRecord Params(Bytes answer) {
    ParamRecord p;
    p.responseCode = ReadU8(answer, 0);
    p.protocolVersion = ReadU8(answer, kProtocolVersionAt);
    p.minimumVersion = ReadU8(answer, kMinimumVersionAt);
    p.maximumWriteSize = ReadLe32(answer, kMaximumWriteSizeAt);
    p.model = ReadU8(answer, kModelAt);
    p.flashSizeCodeReceived = ReadU8(answer, kFlashSizeCodeAt);
    p.flashSizeCode = BelowOrZero(p.flashSizeCodeReceived, kFlashSizeCodeLimit);
    p.flashSizeBytes = FlashSizeOfCode(p.flashSizeCode);
    p.deviceType = BelowOrZero(ReadU8(answer, kDeviceTypeAt), kDeviceTypeLimit);
    SetUnknown(p.modelName);
    SetUnknown(p.deviceName);
    return p;
}

uint32_t BlockWrittenAddress(Bytes answer) { return ReadLe32(answer, kBlockWrittenAddressAt); }
uint32_t StreamErrorReason(Bytes answer) { return ReadLe32(answer, kStreamErrorReasonAt); }

uint16_t EfsCommand(Bytes answer) { return bytes::ReadLe16(answer, kEfsCommandAt); }

EfsHandleAnswer EfsHandle(Bytes answer) {
    using A = EfsHandleAnswer;
    return {.handle = ReadLe32(answer, A::kHandleAt), .error = ReadLe32(answer, A::kErrorAt)};
}

EfsStatusAnswer EfsStatus(Bytes answer) { return {.error = ReadLe32(answer, EfsStatusAnswer::kErrorAt)}; }

EfsOpenAnswer EfsOpen(Bytes answer) {
    using A = EfsOpenAnswer;
    return {.descriptor = ReadLe32(answer, A::kDescriptorAt), .error = ReadLe32(answer, A::kErrorAt)};
}

EfsFstatAnswer EfsFstat(Bytes answer) {
    using A = EfsFstatAnswer;
    return {.error = ReadLe32(answer, A::kErrorAt), .size = ReadLe32(answer, A::kSizeAt)};
}

EfsReadAnswer EfsRead(Bytes answer) {
    using A = EfsReadAnswer;
    return {.count = ReadLe32(answer, A::kCountAt), .error = ReadLe32(answer, A::kErrorAt)};
}

EfsWriteAnswer EfsWrite(Bytes answer) { return {.error = ReadLe32(answer, EfsWriteAnswer::kErrorAt)}; }

EfsReadDirAnswer EfsReadDir(Bytes answer) {
    using A = EfsReadDirAnswer;
    return {.error = ReadLe32(answer, A::kErrorAt), .type = ReadLe32(answer, A::kTypeAt)};
}

}  // namespace packet::answer

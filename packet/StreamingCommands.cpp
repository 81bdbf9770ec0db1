// The streaming download command set of the flash programmer, with its
// receive path of its own: a transaction that takes every frame of one read
// (SendStreamingPacket) and a step-wise receiver that hands on one frame of
// the read-ahead buffer at a time while raw blocks stream.
#include <array>
#include <cstdio>
#include <cstring>

#include "packet/AnswerDecoders.h"
#include "packet/Codec.h"
#include "packet/Command.h"
#include "packet/Packet.h"
#include "packet/PacketState.h"
#include "platform/Platform.h"

namespace packet {

namespace {

constexpr uint8_t kHello = 0x01;
constexpr uint8_t kStreamWrite = 0x07;
constexpr uint8_t kBlockWritten = 0x08;
constexpr uint8_t kNop = 0x09;
constexpr uint8_t kReset = 0x0B;
constexpr uint8_t kError = 0x0D;
constexpr uint8_t kCloseImage = 0x15;
constexpr uint8_t kSecurityMode = 0x17;
constexpr uint8_t kPartitionTable = 0x19;
constexpr uint8_t kPartitionStatus = 0x1A;
constexpr uint8_t kOpenMultiImage = 0x1B;
constexpr uint8_t kAnnounceImageSize = 0x1D;
constexpr uint8_t kStatusReport = 0x1E;
constexpr size_t kStatusStageAt = 1;
constexpr size_t kStatusOutcomeAt = 2;

constexpr char kHelloMagic[] = "QCOM fast download protocol host";
static_assert(sizeof kHelloMagic - 1 == 32);
constexpr uint8_t kHelloTail[] = {0x02, 0x02, 0x03};   // version, compatible version, feature bits
constexpr uint8_t kNopValue = 0x11;
constexpr uint8_t kSecureMode = 0x01;
constexpr uint8_t kAnnounceFixed[] = {0x00, 0x60, 0x00, 0x00};

bool IsAcknowledgement(uint8_t code) {
    switch (code) {
        case 0x02: case 0x04: case 0x06: case 0x0A: case 0x0C: case 0x0E: case 0x10:
        case 0x12: case 0x14: case 0x16: case 0x17: case 0x18: case 0x1C: case 0x79:
            return true;
        default:
            return false;
    }
}

enum class ImagePayload { None, Appended, TypeLeftOut };

ImagePayload PayloadOfImageType(uint8_t type) {
    switch (type) {
        case 1: case 2: case 3: case 9: case 11: case 20: case 21:
            return ImagePayload::None;
        case 4: case 5: case 6: case 7: case 8: case 10: case 12: case 13: case 14: case 15: case 16: case 17: case 18:
            return ImagePayload::Appended;
        default:
            return ImagePayload::TypeLeftOut;
    }
}

}  // namespace

void BuildStreamingRequest(PacketState& s) {
    const RequestRecord& r = s.request;
    BodyWriter body(s);
    body.U8(r.command);
    switch (r.command) {
        case kHello:
            body.Bytes(reinterpret_cast<const uint8_t*>(kHelloMagic), sizeof kHelloMagic - 1);
            body.Bytes(kHelloTail, sizeof kHelloTail);
            break;
        case kStreamWrite:
            body.Le32(r.address);
            body.Bytes(r.data, r.length);
            break;
        case kNop: body.U8(kNopValue); break;
        case kSecurityMode: body.U8(r.parameter); break;
        case kPartitionTable:
            body.U8(s.partitionOverride ? 0x01 : 0x00);
            body.Bytes(s.payload, s.payloadLength);
            break;
        case kOpenMultiImage:
            switch (PayloadOfImageType(r.parameter)) {
                case ImagePayload::None: body.U8(r.parameter); break;
                case ImagePayload::Appended:
                    body.U8(r.parameter);
                    body.Bytes(s.payload, s.payloadLength);
                    break;
                case ImagePayload::TypeLeftOut: break;
            }
            break;
        case kAnnounceImageSize:
            body.Bytes(kAnnounceFixed, sizeof kAnnounceFixed);
            body.Be32(s.announceSize);
            body.U8(static_cast<uint8_t>(s.announceMode));
            break;
        default: break;   // reset, close image: the code alone
    }
}

bool ParseStreamingResponse(PacketState& s) {
    const uint8_t code = s.Answer(0);
    if (IsAcknowledgement(code) || code == kBlockWritten || code == kStatusReport) {
        return true;
    }
    if (code == kError) {
        for (size_t i = 1; i <= 4; ++i) {
            s.response.bytes[i] = s.Answer(i);
        }
        return false;
    }
    if (code == kPartitionStatus) {
        if (s.Answer(1) == 0) {
            return true;
        }
        if (s.Answer(1) == 1) {
            s.partitionOverride = true;
        }
    }
    return false;
}

const char* CPacket::StreamErrorText(uint32_t reason) {
    switch (reason) {
        case 2: return "Invalid destination address";
        case 3: return "Invalid length";
        case 4: return "Unexpected end of packet";
        case 5: return "Invalid Command";
        case 7: return "Operation failed";
        case 8: return "Wrong Flash Intelligent ID";
        case 9: return "Bad programming voltage";
        case 10: return "Write-verify failed";
        case 12: return "Incorrect security code";
        case 13: return "Cannot power down phone";
        case 14: return "NAND flash programming not supported";
        case 15: return "Command out of sequence";
        case 16: return "Close did not succeed";
        case 17: return "Incompatible feature bits";
        case 18: return "Out of space";
        default: return "Illegal reason";
    }
}

bool CPacket::SendStreamingPacket(uint32_t timeoutMs) {
    State& s = *state_;
    if (!SendFrameOnly()) {
        return false;
    }
    const uint32_t start = platform::TickCount();
    uint32_t count = 0;
    bool complete = false;
    while (true) {
        platform::Sleep(8);
        count = QueuedInput();
        platform::Sleep(5);
        if (count >= 1 && QueuedInput() == count) {
            complete = true;
            break;
        }
        if (platform::TickCount() - start > timeoutMs) {
            break;
        }
    }
    char elapsed[48];
    std::snprintf(elapsed, sizeof elapsed, "time is %d(ms)", static_cast<int>(platform::TickCount() - start));
    s.errorText = elapsed;
    if (!complete) {
        s.errorText = kTextCannotReceive;
        return false;
    }
    if (count > kRequestBufferSize) {
        s.errorText = kTextTooLarge;
        return false;
    }
    s.responseLength = static_cast<uint16_t>(Read(s.responseBuffer, count));
    return ParseStreamingFrames();
}

bool CPacket::ParseStreamingFrames() {
    State& s = *state_;
    s.blockWrittenCount = 0;
    bool allGood = true;
    codec::ForEachStreamingFrame(std::span<const uint8_t>(s.responseBuffer, s.responseLength),
                                 [&](std::span<const uint8_t> frame) {
                                     allGood = ParseStreamingFrame(frame.data(), static_cast<uint32_t>(frame.size())) &&
                                               allGood;
                                 });
    return allGood;
}

bool CPacket::ParseStreamingFrame(const uint8_t* bytes, uint32_t n) {
    State& s = *state_;
    std::array<uint8_t, kResponseBufferSize> plain{};
    const size_t length = codec::Unescape(std::span<const uint8_t>(bytes, n), plain).length;
    if (length == 0 || !codec::CheckFcs(std::span<const uint8_t>(plain.data(), length))) {
        s.errorText = kTextStreamingCrc;
        return false;
    }
    const std::span<const uint8_t> answerBytes(plain.data(), length);
    switch (plain[0]) {
        case kBlockWritten:
            // Further answers of one read are dropped once the list is full.
            if (s.blockWrittenCount < kBlockWrittenCapacity) {
                s.blockWritten[s.blockWrittenCount++] = answer::BlockWrittenAddress(answerBytes);
            }
            return true;
        case kError:
            s.errorText = StreamErrorText(answer::StreamErrorReason(answerBytes));
            return false;
        case kStatusReport:
            s.response.code() = kStatusReport;
            for (size_t i = 1; i <= 4; ++i) {
                s.response.bytes[i] = i < length ? plain[i] : 0;
            }
            return true;
        default:
            return true;
    }
}

std::optional<StatusReport> CPacket::PendingStatusReport() const {
    const ResponseRecord& record = state_->response;
    if (record.code() != kStatusReport) {
        return std::nullopt;
    }
    return StatusReport{.stage = record.bytes[kStatusStageAt], .outcome = record.bytes[kStatusOutcomeAt]};
}

void CPacket::TakeStatusReport() { state_->response = ResponseRecord{}; }

bool CPacket::ReceiveStreamingStep() {
    State& s = *state_;
    s.responseLength = 0;
    if (s.readAhead.Empty()) {
        const uint32_t got = Read(s.readAhead.FillTarget(), codec::ReadAhead::kCapacity);
        s.readAhead.Filled(got);
        if (got == 0) {
            s.blockWrittenCount = 0;
            s.lastStepLength = 0;
            return true;
        }
    }
    const size_t moved = s.readAhead.Step(s.responseBuffer);
    s.responseLength = static_cast<uint16_t>(moved);
    s.lastStepLength = static_cast<uint32_t>(moved);
    return ParseStreamingFrames();
}

namespace {

void SetPayload(PacketState& s, const uint8_t* payload, uint32_t length) {
    if (length != 0) {
        std::memcpy(s.payload, payload, length);
    }
    s.payloadLength = length;
}

constexpr const char* kPartitionFailed = "Cannot download partition, Since ";
constexpr const char* kOpenImageFailed = "Cannot open multi-image, Since ";
constexpr const char* kWriteFailed = "Write a Block of Data to Memory Failed, Since ";
constexpr int kStreamWriteTries = 5;
constexpr uint32_t kStreamWriteRetryPauseMs = 1000;

constexpr CommandSpec kHelloCommand{.mode = PacketMode::Streaming, .code = kHello, .attempts = 1,
                                    .timeoutMs = 1000};
constexpr CommandSpec kNopCommand{.mode = PacketMode::Streaming, .code = kNop, .attempts = 1, .timeoutMs = 5000};
constexpr CommandSpec kResetCommand{.mode = PacketMode::Streaming, .code = kReset, .attempts = 1,
                                    .timeoutMs = 5000};
constexpr CommandSpec kSecurityModeCommand{.mode = PacketMode::Streaming, .code = kSecurityMode,
                                           .exchange = Exchange::Streaming, .timeoutMs = 15000,
                                           .failurePrefix = "Cannot go into security, Since "};
// A failed table is judged by PartitionTable itself.
constexpr CommandSpec kPartitionTableCommand{.mode = PacketMode::Streaming, .code = kPartitionTable,
                                             .attempts = 3, .timeoutMs = 20000};
constexpr CommandSpec kOpenMultiImageCommand{.mode = PacketMode::Streaming, .code = kOpenMultiImage,
                                             .attempts = 3, .timeoutMs = 20000,
                                             .failurePrefix = kOpenImageFailed};
constexpr CommandSpec kStreamWriteCommand{.mode = PacketMode::Streaming, .code = kStreamWrite,
                                          .exchange = Exchange::Streaming, .timeoutMs = 8000,
                                          .failurePrefix = kWriteFailed};
constexpr CommandSpec kCloseImageCommand{.mode = PacketMode::Streaming, .code = kCloseImage,
                                         .exchange = Exchange::Streaming, .timeoutMs = 10000};
constexpr CommandSpec kAnnounceImageSizeCommand{.mode = PacketMode::Streaming, .code = kAnnounceImageSize,
                                                .exchange = Exchange::SendOnly};

}  // namespace

bool CPacket::Hello() { return RunCommand(kHelloCommand); }

bool CPacket::Nop() { return RunCommand(kNopCommand); }

bool CPacket::Reset() { return RunCommand(kResetCommand); }

bool CPacket::SecurityMode() {
    return RunCommand(kSecurityModeCommand, [](PacketState& s) { s.request.parameter = kSecureMode; });
}

bool CPacket::PartitionTable(const uint8_t* table, uint32_t length) {
    if (RefuseOversized(length, kPartitionFailed)) {
        return false;
    }
    auto send = [&] {
        return RunCommand(kPartitionTableCommand, [&](PacketState& s) { SetPayload(s, table, length); });
    };
    if (send()) {
        return true;
    }
    // A table whose frame did not fit was never sent: it cannot count as sent.
    if (state_->frameLength == 0) {
        ComposeError(kPartitionFailed);
        return false;
    }
    // An unconfirmed table counts as sent unless the card asked for an override.
    if (!state_->partitionOverride) {
        return true;
    }
    if (send()) {
        return true;
    }
    ComposeError(kPartitionFailed);
    return false;
}

bool CPacket::OpenMultiImage(uint8_t imageType, const uint8_t* payload, uint32_t length) {
    if (RefuseOversized(length, kOpenImageFailed)) {
        return false;
    }
    return RunCommand(kOpenMultiImageCommand, [&](PacketState& s) {
        s.request.parameter = imageType;
        SetPayload(s, payload, length);
    });
}

bool CPacket::StreamWrite(const uint8_t* data, uint32_t address, uint32_t length) {
    if (RefuseOversized(length, kWriteFailed)) {
        return false;
    }
    for (int attempt = 0; attempt < kStreamWriteTries; ++attempt) {
        const bool written = RunCommand(kStreamWriteCommand, [&](PacketState& s) {
            s.request.address = address;
            s.request.length = length;
            if (length != 0) {
                std::memcpy(s.request.data, data, length);
            }
        });
        if (written) {
            return true;
        }
        if (state_->frameLength == 0) {
            return false;   // refused before sending: a repeat cannot fit either
        }
        platform::Sleep(kStreamWriteRetryPauseMs);
    }
    return false;
}

bool CPacket::CloseImage() { return RunCommand(kCloseImageCommand); }

bool CPacket::AnnounceImageSize(uint32_t imageSize, uint8_t mode) {
    return RunCommand(kAnnounceImageSizeCommand, [&](PacketState& s) {
        s.announceSize = imageSize;
        s.announceMode = mode;
    });
}

}  // namespace packet

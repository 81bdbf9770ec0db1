// The download-mode command set of the card's boot downloader: no-operation,
// parameter request, memory write, start of execution, and the one-byte
// status probe that tells whether anything answers on the port.
#include <cstring>

#include "packet/Packet.h"
#include "packet/PacketState.h"

namespace packet {

namespace {

constexpr uint8_t kAck = 0x02;
constexpr uint8_t kNak = 0x03;
constexpr uint8_t kGo = 0x05;
constexpr uint8_t kNoop = 0x06;
constexpr uint8_t kParamRequest = 0x07;
constexpr uint8_t kParams = 0x08;
constexpr uint8_t kStatusProbe = 0x0C;
constexpr uint8_t kVersionText = 0x0D;
constexpr uint8_t kWrite32 = 0x0F;
constexpr uint8_t kSixByteAnswer = 0x13;
// Start address of Go: segment 0x0050, offset 0x0000.
constexpr uint32_t kGoAddress = 0x00000050;
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

void SetUnknown(char* text) { std::memcpy(text, "Unknown", sizeof "Unknown"); }

}  // namespace

void BuildDownloadRequest(PacketState& s) {
    const RequestRecord& r = s.request;
    BodyWriter body(s);
    body.U8(r.command);
    switch (r.command) {
        case kGo:
            body.Be16(static_cast<uint16_t>(r.address & 0xFFFF));   // segment
            body.Be16(static_cast<uint16_t>(r.address >> 16));      // offset
            break;
        case kWrite32:
            body.Be32(r.address);
            body.Be16(static_cast<uint16_t>(r.length));
            body.Bytes(r.data, r.length);
            break;
        default: break;   // no-operation, parameter request: the code alone
    }
}

bool ParseDownloadResponse(PacketState& s) {
    ResponseRecord& rec = s.response;
    switch (s.Answer(0)) {
        case kNak:
            rec.bytes[1] = s.Answer(1);
            rec.bytes[2] = s.Answer(2);
            s.errorText = CPacket::NakReasonText(s.AnswerBe16(1));
            return false;
        case kParams: {
            ParamRecord& p = s.param;
            p = ParamRecord{};
            p.responseCode = s.Answer(0);
            p.protocolVersion = s.Answer(1);
            p.minimumVersion = s.Answer(2);
            p.maximumWriteSize = s.AnswerLe32(3);
            p.model = s.Answer(7);
            p.flashSizeCodeReceived = s.Answer(8);
            p.flashSizeCode = s.Answer(8) < kFlashSizeCodeLimit ? s.Answer(8) : 0;
            p.flashSizeBytes = FlashSizeOfCode(p.flashSizeCode);
            p.deviceType = s.Answer(9) < kDeviceTypeLimit ? s.Answer(9) : 0;
            SetUnknown(p.modelName);
            SetUnknown(p.deviceName);
            break;
        }
        case kVersionText: {
            const uint8_t n = s.Answer(1);
            rec.bytes[1] = n;
            for (size_t i = 0; i < n && 2 + i < ResponseRecord::kSize; ++i) {
                rec.bytes[2 + i] = s.Answer(2 + i);
            }
            break;
        }
        case kSixByteAnswer:
            for (size_t i = 1; i < 6; ++i) {
                rec.bytes[i] = s.Answer(i);
            }
            break;
        default: break;   // acknowledge and anything else: the code alone
    }
    return true;
}

const char* CPacket::NakReasonText(uint16_t reason) {
    switch (reason) {
        case 1: return "invalid frame check sequence";
        case 2: return "destination address is invalid";
        case 3: return "operation length is invalid";
        case 4: return "packet was too short for this cmd";
        case 5: return "packet was too long for phone's buffer";
        case 6: return "packet command code was unknown";
        case 7: return "operation did not succeed";
        case 8: return "intelligent ID code was wrong";
        case 9: return "programming voltage out of spec";
        case 10: return "readback verify did not match";
        case 11: return "not permitted without unlock";
        case 12: return "invalid security code";
        default: return "";
    }
}

bool CPacket::DoNoop() {
    ResetCommand();
    state_->mode = PacketMode::Download;
    state_->request.command = kNoop;
    if (SendPacket(1, 5000) && state_->response.code() == kAck) {
        return true;
    }
    ComposeError("Cannot Do No Operation, Since ");
    return false;
}

bool CPacket::ParamRequest(ParamRecord& record) {
    ResetCommand();
    state_->mode = PacketMode::Download;
    state_->request.command = kParamRequest;
    state_->param = ParamRecord{};
    if (!SendPacket(3, 5000)) {
        ComposeError("Cannot Get flash Information, Since ");
        record = ParamRecord{};
        return false;
    }
    record = state_->param;
    record.responseCode = state_->response.code();
    return true;
}

bool CPacket::Go() {
    ResetCommand();
    state_->mode = PacketMode::Download;
    state_->request.command = kGo;
    state_->request.address = kGoAddress;
    if (!SendPacket(1, 5000)) {
        ComposeError("Cannot begin execution at an address, Since ");
        return false;
    }
    return true;
}

bool CPacket::Write32(const uint8_t* data, uint32_t address, uint16_t length) {
    static const std::string prefix = "Write a Block of Data to Memory Failed, Since ";
    ResetCommand();
    if (length > kPayloadSize) {
        RefuseRequest(prefix);
        return false;
    }
    State& s = *state_;
    s.mode = PacketMode::Download;
    s.request.command = kWrite32;
    s.request.address = address;
    s.request.length = length;
    if (length != 0) {
        std::memcpy(s.request.data, data, length);
    }
    if (!SendPacket(3, 5000)) {
        ComposeError(prefix);
        return false;
    }
    return true;
}

bool CPacket::TouchPort() {
    State& s = *state_;
    s.mode = PacketMode::Raw;
    ResetCommand();
    s.requestBuffer[0] = kStatusProbe;
    s.requestLength = 1;
    // Any answer counts; the same one-byte body is framed again for each try.
    for (int attempt = 0; attempt < 3; ++attempt) {
        if (SendPacket(1, 5000)) {
            return true;
        }
    }
    return false;
}

}  // namespace packet

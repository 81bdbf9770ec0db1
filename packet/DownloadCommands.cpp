// The download-mode command set of the card's boot downloader: no-operation,
// parameter request, memory write, start of execution, and the one-byte
// status probe that tells whether anything answers on the port.
#include <cstring>

#include "packet/AnswerDecoders.h"
#include "packet/Command.h"
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
constexpr const char* kWriteFailed = "Write a Block of Data to Memory Failed, Since ";

bool Acknowledged(const PacketState& s) { return s.response.code() == kAck; }

constexpr CommandSpec kNoopCommand{.mode = PacketMode::Download, .code = kNoop, .attempts = 1, .timeoutMs = 5000,
                                   .failurePrefix = "Cannot Do No Operation, Since ", .accepted = Acknowledged};
constexpr CommandSpec kParamCommand{.mode = PacketMode::Download, .code = kParamRequest, .attempts = 3,
                                    .timeoutMs = 5000, .failurePrefix = "Cannot Get flash Information, Since "};
constexpr CommandSpec kGoCommand{.mode = PacketMode::Download, .code = kGo, .attempts = 1, .timeoutMs = 5000,
                                 .failurePrefix = "Cannot begin execution at an address, Since "};
constexpr CommandSpec kWrite32Command{.mode = PacketMode::Download, .code = kWrite32, .attempts = 3,
                                      .timeoutMs = 5000, .failurePrefix = kWriteFailed};
// Any answer counts.
constexpr CommandSpec kStatusProbeCommand{.mode = PacketMode::Raw, .code = kStatusProbe, .attempts = 3,
                                          .timeoutMs = 5000};

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
            s.errorText = CPacket::NakReasonText(answer::NakReason(s.AnswerBytes()));
            return false;
        case kParams: s.param = answer::Params(s.AnswerBytes()); break;
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

bool CPacket::DoNoop() { return RunCommand(kNoopCommand); }

bool CPacket::ParamRequest(ParamRecord& record) {
    if (!RunCommand(kParamCommand, [](PacketState& s) { s.param = ParamRecord{}; })) {
        record = ParamRecord{};
        return false;
    }
    record = state_->param;
    record.responseCode = state_->response.code();
    return true;
}

bool CPacket::Go() {
    return RunCommand(kGoCommand, [](PacketState& s) { s.request.address = kGoAddress; });
}

bool CPacket::Write32(const uint8_t* data, uint32_t address, uint16_t length) {
    if (RefuseOversized(length, kWriteFailed)) {
        return false;
    }
    return RunCommand(kWrite32Command, [&](PacketState& s) {
        s.request.address = address;
        s.request.length = length;
        if (length != 0) {
            std::memcpy(s.request.data, data, length);
        }
    });
}

bool CPacket::TouchPort() { return RunCommand(kStatusProbeCommand); }

}  // namespace packet

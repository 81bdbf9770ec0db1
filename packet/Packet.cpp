// CPacket's transport: the per-command reset, framing, the one transaction
// every command runs (write, poll the receive queue, read, decode, retry) and
// the decoding of an answer before the command set's parser sees it.
#include <array>
#include <cstring>

#include "packet/Codec.h"
#include "packet/Packet.h"
#include "packet/PacketState.h"
#include "platform/Platform.h"

namespace packet {

namespace {

constexpr uint32_t kPollPauseMs = 10;
constexpr uint32_t kNvPollPauseMs = 30;

}  // namespace

CPacket::CPacket() : state_(std::make_unique<State>()) { ResetCommand(); }

CPacket::~CPacket() = default;

const std::string& CPacket::ErrorText() const { return state_->errorText; }
bool CPacket::PartitionOverride() const { return state_->partitionOverride; }
void CPacket::SetPartitionOverride(bool value) { state_->partitionOverride = value; }
const ResponseRecord& CPacket::Response() const { return state_->response; }
uint8_t CPacket::BlockWrittenCount() const { return state_->blockWrittenCount; }

uint32_t CPacket::BlockWrittenAddress(uint8_t index) const {
    return index < state_->blockWrittenCount ? state_->blockWritten[index] : 0;
}

uint32_t CPacket::LastStepLength() const { return state_->lastStepLength; }
PacketMode CPacket::Mode() const { return state_->mode; }
void CPacket::SetMode(PacketMode mode) { state_->mode = mode; }

void CPacket::ResetCommand() {
    State& s = *state_;
    s.composedText.clear();
    std::memset(s.payload, 0, sizeof s.payload);
    s.payloadLength = 0;
    s.responseLength = 0;
    s.decodedLength = 0;
    std::memset(s.responseBuffer, 0, kRequestBufferSize);
    s.requestLength = 0;
    s.requestOverflow = false;
    std::memset(s.requestBuffer, 0, sizeof s.requestBuffer);
    s.frameLength = 0;
}

uint32_t CPacket::AppendFcs(uint8_t* bytes, uint32_t n) {
    const uint16_t fcs = codec::ComputeFcs(std::span<const uint8_t>(bytes, n));
    bytes[n] = static_cast<uint8_t>(fcs & 0xFF);
    bytes[n + 1] = static_cast<uint8_t>(fcs >> 8);
    return n + 2;
}

bool CPacket::CheckFcs(const uint8_t* bytes, uint16_t n) {
    return n != 0 && codec::CheckFcs(std::span<const uint8_t>(bytes, n));
}

uint32_t CPacket::BuildFrame() {
    State& s = *state_;
    switch (s.mode) {
        case PacketMode::Diag: s.requestLength = 0; s.requestOverflow = false; BuildDiagRequest(s); break;
        case PacketMode::Download: s.requestLength = 0; s.requestOverflow = false; BuildDownloadRequest(s); break;
        case PacketMode::Streaming: s.requestLength = 0; s.requestOverflow = false; BuildStreamingRequest(s); break;
        case PacketMode::Raw: break;   // the caller placed the body; it is kept for a repeat
    }
    const bool leadingFlag = s.mode == PacketMode::Download || s.mode == PacketMode::Streaming;
    s.frameLength = s.requestOverflow
                        ? 0
                        : static_cast<uint32_t>(codec::BuildFrame(std::span<const uint8_t>(s.requestBuffer, s.requestLength),
                                                                  leadingFlag, s.frame));
    if (s.frameLength == 0) {
        s.errorText = kTextRequestTooLarge;
    }
    return s.frameLength;
}

bool CPacket::SendPacket(uint8_t attempts, uint32_t timeoutMs) {
    State& s = *state_;
    // A frame that does not fit is never written, not even in part.
    if (BuildFrame() == 0) {
        return false;
    }
    const bool nvCommand = s.mode == PacketMode::Diag && (s.frame[0] == kNvItemRead || s.frame[0] == kNvItemWrite);
    const uint32_t pause = nvCommand ? kNvPollPauseMs : kPollPauseMs;
    for (uint32_t attempt = 0; attempt < attempts; ++attempt) {
        Purge(platform::kPurgeAll);
        if (Write(s.frame, s.frameLength) < s.frameLength) {
            s.errorText = kTextCannotSend;
            continue;
        }
        const uint32_t count = AwaitAnswer(pause, timeoutMs);
        if (count == 0) {
            s.errorText = kTextCannotReceive;
            continue;
        }
        if (count > kRequestBufferSize) {
            s.errorText = kTextTooLarge;
            continue;
        }
        s.responseLength = static_cast<uint16_t>(Read(s.responseBuffer, count));
        if (s.responseLength == 0) {
            s.errorText = kTextCannotReceive;
            continue;
        }
        switch (s.mode) {
            case PacketMode::Diag:
                if (s.responseBuffer[0] != s.request.command) {
                    s.errorText = DiagErrorText(s.responseBuffer[0]);
                    continue;
                }
                if (ParseFrame()) {
                    return true;
                }
                if (s.request.command == kFileSystemOperation) {
                    return false;
                }
                break;
            case PacketMode::Download:
            case PacketMode::Streaming:
                if (ParseFrame()) {
                    return true;
                }
                break;
            case PacketMode::Raw:
                return true;
        }
    }
    return false;
}

uint32_t CPacket::AwaitAnswer(uint32_t pauseMs, uint32_t timeoutMs) {
    // Wait until the answer has stopped growing over one polling pause.
    const uint32_t start = platform::TickCount();
    while (true) {
        const uint32_t count = QueuedInput();
        platform::Sleep(pauseMs);
        const uint32_t again = QueuedInput();
        if (count >= 1 && again == count) {
            return count;
        }
        if (platform::TickCount() - start > timeoutMs) {
            return count;
        }
    }
}

bool CPacket::ParseFrame() {
    State& s = *state_;
    s.rawReceivedLength = s.responseLength;
    const bool flagExpected = s.mode == PacketMode::Download || s.mode == PacketMode::Streaming;
    std::array<uint8_t, kResponseBufferSize> decoded{};
    const codec::DecodeResult result =
        codec::DecodeAnswer(std::span<const uint8_t>(s.responseBuffer, s.responseLength), flagExpected, decoded);
    if (result.status == codec::DecodeStatus::NoEndFlag) {
        s.errorText = kTextNoEndFlag;
        return false;
    }
    std::memcpy(s.responseBuffer, decoded.data(), result.length);
    s.responseLength = static_cast<uint16_t>(result.length);
    if (result.status != codec::DecodeStatus::Ok) {
        s.errorText = kTextWrongCrc;
        return false;
    }
    s.decodedLength = static_cast<uint32_t>(result.length);
    s.response.code() = s.responseBuffer[0];
    switch (s.mode) {
        case PacketMode::Diag: return ParseDiagResponse(s);
        case PacketMode::Download: return ParseDownloadResponse(s);
        case PacketMode::Streaming: return ParseStreamingResponse(s);
        case PacketMode::Raw: return true;
    }
    return false;
}

const char* CPacket::DiagErrorText(uint8_t code) {
    switch (code) {
        case 0x13: return "Bad command";
        case 0x14: return "The Request packet has invalid or inconsistent parameters";
        case 0x15: return "The Request packet has an invalid length";
        case 0x18: return "the DMSS isn't in a particular mode";
        case 0x42: return "the correct SPC has not yet been entered to unlock service programming";
        case 0x47: return "the correct Security Password has not yet been entered to unlock the phone";
        default: return "unknow reason";
    }
}

}  // namespace packet

// The diagnostic command set, spoken while the card runs its normal firmware:
// ESN, software version, NV items, service programming code, offline mode,
// the switch to download mode, the Wi-Fi address, and the AT-command switch
// that turns a port still in AT mode into a diagnostic port.
#include <cctype>
#include <cstdio>
#include <cstring>

#include "packet/AnswerDecoders.h"
#include "packet/Command.h"
#include "packet/Packet.h"
#include "packet/PacketState.h"
#include "platform/Platform.h"

namespace packet {

namespace {

constexpr uint8_t kEsn = 0x01;
constexpr uint8_t kNvRead = kNvItemRead;
constexpr uint8_t kNvWrite = kNvItemWrite;
constexpr uint8_t kModeChange = 0x29;
constexpr uint8_t kSoftwareVersion = 0x38;
constexpr uint8_t kSwitchDownloader = 0x3A;
constexpr uint8_t kServiceProgrammingCode = 0x41;
constexpr uint8_t kWiFiSubsystem = 0xD3;
constexpr uint16_t kModeOffline = 1;
constexpr uint16_t kWiFiRead = 0;
constexpr uint16_t kWiFiWrite = 1;
constexpr size_t kNvDataSize = answer::kNvDataSize;
constexpr size_t kWiFiAnswerSize = answer::kWiFiStatusAt + 1;
constexpr size_t kEsnAnswerSize = answer::kEsnAt + 4;
constexpr size_t kNvAnswerSize = answer::kNvStatusAt + 2;   // code, item, data, status

// The AT command that switches the port to diagnostic mode, and its reply.
constexpr char kDiagModeCommand[] = "AT$QCDMG\r";
constexpr char kDiagModeReply[] = "AT$QCDMG\r\r\nOK\r\n";
constexpr size_t kDiagModeReplySize = sizeof kDiagModeReply - 1;
static_assert(sizeof kDiagModeCommand - 1 == 9 && kDiagModeReplySize == 15);

void CopyAnswer(PacketState& s, size_t count) {
    for (size_t i = 1; i < count && i < ResponseRecord::kSize; ++i) {
        s.response.bytes[i] = s.Answer(i);
    }
}

// Copies width bytes of the answer from position at into text and ends it.
size_t CopyText(const PacketState& s, size_t at, char* text, size_t width) {
    for (size_t i = 0; i < width; ++i) {
        text[i] = static_cast<char>(s.Answer(at + i));
    }
    text[width] = '\0';
    return at + width;
}

// The request of an NV item read or write: the item and its 128 data bytes,
// status 0.
void FillNvRequest(PacketState& s, uint16_t item, const uint8_t* data) {
    s.request.value16 = item;
    std::memcpy(s.request.nvData, data, kNvDataSize);
    s.request.nvStatus = 0;
}

std::string WithItem(const char* format, uint16_t item) {
    char text[64];
    std::snprintf(text, sizeof text, format, static_cast<int>(item));
    return text;
}

// An answer that names another item is a late answer to an earlier NV
// request: taken for this one it would put one item's data under another's
// number. The request goes out again.
bool AnswersRequestedItem(const PacketState& s) { return answer::NvItem(s.AnswerBytes()) == s.request.value16; }

}  // namespace

void BuildDiagRequest(PacketState& s) {
    const RequestRecord& r = s.request;
    BodyWriter body(s);
    body.U8(r.command);
    switch (r.command) {
        case kNvRead:
        case kNvWrite:
            body.Le16(r.value16);
            body.Bytes(r.nvData, sizeof r.nvData);
            body.Le16(r.nvStatus);
            break;
        case kModeChange: body.Le16(r.value16); break;
        case kServiceProgrammingCode:
            body.Bytes(reinterpret_cast<const uint8_t*>(CPacket::kDefaultServiceProgrammingCode), 6);
            break;
        case kSubsystemCommand:
            body.U8(r.subsystem);
            body.Le16(r.value16);
            body.Bytes(r.mac, sizeof r.mac);
            body.U8(r.subsystemStatus);
            break;
        case kFileSystemOperation:
            body.U8(r.fsOperation);
            body.U8(r.fsValue);
            break;
        default: break;   // ESN, software version, switch to downloader: the code alone
    }
}

namespace {

// Every field these answers carry is read: one that ends early would pass
// off zeros (or its own FCS) as the ESN, an NV item's data and status, or the
// Wi-Fi address, and a backup would keep them as the card's own.
size_t FixedAnswerSize(const PacketState& s) {
    switch (s.Answer(0)) {
        case kEsn: return kEsnAnswerSize;
        case kNvRead:
        case kNvWrite: return kNvAnswerSize;
        case kModeChange:
        case kFileSystemOperation: return 3;
        case kSubsystemCommand: return s.Answer(1) == kWiFiSubsystem ? kWiFiAnswerSize : 0;
        default: return 0;
    }
}

}  // namespace

bool ParseDiagResponse(PacketState& s) {
    if (s.BodyLength() < FixedAnswerSize(s)) {
        s.errorText = kTextTooShort;
        return false;
    }
    switch (s.Answer(0)) {
        case kEsn: CopyAnswer(s, kEsnAnswerSize); break;
        case kNvRead:
        case kNvWrite: CopyAnswer(s, kNvAnswerSize); break;
        case kModeChange: CopyAnswer(s, 3); break;
        case kSoftwareVersion: {
            // A longer answer carries the 30-character form of the version text.
            const size_t width = s.rawReceivedLength > 50 ? 30 : 22;
            s.version = {};
            size_t at = CopyText(s, 1, s.version.version, width);
            at = CopyText(s, at, s.version.second, 12);
            CopyText(s, at, s.version.third, 9);
            break;
        }
        case kSubsystemCommand:
            if (s.Answer(1) == kWiFiSubsystem) {
                CopyAnswer(s, kWiFiAnswerSize);
            }
            break;
        case kFileSystemOperation:
            CopyAnswer(s, 3);
            if (s.Answer(2) != 0) {
                s.errorText = CPacket::FileSystemStatusText(s.Answer(2));
                return false;
            }
            break;
        default: break;
    }
    return true;
}

const char* CPacket::GetNvStatusText(uint16_t status) {
    switch (status) {
        case 1: return "Request is queued";
        case 2: return "Unrecognizable command field";
        case 3: return "The NVM is full";
        case 4: return "Command failed, reason other than NVM was full";
        case 5: return "Variable was not active";
        case 6: return "Bad parameter in command block";
        case 7: return "Parameter is write-protected and thus read only";
        case 8: return "Item not valid for Target";
        case 9: return "free memory exhausted";
        case 10: return "address is not a valid allocation ";
        default: return "";
    }
}

namespace {

bool ServiceCodeTaken(const PacketState& s) { return s.Answer(1) == 1; }

constexpr CommandSpec kEsnCommand{.mode = PacketMode::Diag, .code = kEsn, .attempts = 1, .timeoutMs = 300,
                                  .failurePrefix = "Cannot Get the ESN Number of the Phone, Since "};
constexpr CommandSpec kVersionCommand{.mode = PacketMode::Diag, .code = kSoftwareVersion, .attempts = 1,
                                      .timeoutMs = 300,
                                      .failurePrefix = "Cannot get software version from the mobile"};
// The error texts of NV requests name the item: the commands put them together.
constexpr CommandSpec kNvReadCommand{.mode = PacketMode::Diag, .code = kNvRead, .attempts = 3, .timeoutMs = 5000,
                                     .accepted = AnswersRequestedItem, .rounds = 3,
                                     .refusedText = "the answer is for another NV item"};
constexpr CommandSpec kNvWriteCommand{.mode = PacketMode::Diag, .code = kNvWrite, .attempts = 3,
                                      .timeoutMs = 5000, .accepted = AnswersRequestedItem, .rounds = 3,
                                      .refusedText = "the answer is for another NV item"};
constexpr CommandSpec kSpcCommand{.mode = PacketMode::Diag, .code = kServiceProgrammingCode, .attempts = 3,
                                  .timeoutMs = 15000, .accepted = ServiceCodeTaken};
constexpr CommandSpec kOfflineCommand{.mode = PacketMode::Diag, .code = kModeChange, .attempts = 1,
                                      .timeoutMs = 5000, .failurePrefix = "Cannot Put the Phone Offline, Since "};
constexpr CommandSpec kSwitchDownloaderCommand{.mode = PacketMode::Diag, .code = kSwitchDownloader, .attempts = 1,
                                               .timeoutMs = 5000,
                                               .failurePrefix = "Cannot Switch to Downloader, Since "};
constexpr CommandSpec kWiFiCommand{.mode = PacketMode::Diag, .code = kSubsystemCommand, .attempts = 1,
                                   .timeoutMs = 5000};

}  // namespace

bool CPacket::GetEsn(uint32_t& esn) {
    if (!RunCommand(kEsnCommand)) {
        esn = 0xFFFFFFFF;
        return false;
    }
    esn = answer::Esn(std::span<const uint8_t>(state_->response.bytes, ResponseRecord::kSize));
    return true;
}

bool CPacket::GetSoftwareVersion(SoftwareVersionRecord& record) {
    if (!RunCommand(kVersionCommand)) {
        std::memset(&record, 0, sizeof record);
        return false;
    }
    std::memcpy(record.version, state_->version.version, sizeof record.version);
    return true;
}

bool CPacket::NvItemRead(uint16_t item, uint8_t data[128], uint16_t& status) {
    State& s = *state_;
    if (!RunCommand(kNvReadCommand, [&](PacketState& state) { FillNvRequest(state, item, data); })) {
        ComposeError(WithItem("cannot read #%d NVItem, since ", item));
        status = 0xFFFF;
        std::memset(data, 0, kNvDataSize);
        return false;
    }
    const uint16_t answerStatus = answer::NvStatus(s.AnswerBytes());
    if (answerStatus == 0) {
        status = 0;
        std::memcpy(data, s.response.bytes + answer::kNvDataAt, kNvDataSize);
        return true;
    }
    s.errorText = WithItem("cannot read #%d NV Item, since ", item) + GetNvStatusText(answerStatus);
    status = answerStatus;
    std::memset(data, 0, kNvDataSize);
    return false;
}

bool CPacket::NvItemWrite(uint16_t item, const uint8_t data[128], uint16_t& status) {
    State& s = *state_;
    status = 0;
    if (!RunCommand(kNvWriteCommand, [&](PacketState& state) { FillNvRequest(state, item, data); })) {
        ComposeError(WithItem("Cannot write #%d NVItem, Since ", item));
        status = 0xFFFF;
        return false;
    }
    const uint16_t answerStatus = answer::NvStatus(s.AnswerBytes());
    if (answerStatus == 0) {
        return true;
    }
    s.errorText = WithItem("Cannot Write #%d NVItem, Since ", item) + GetNvStatusText(answerStatus);
    status = answerStatus;
    return false;
}

bool CPacket::SendSpc() { return RunCommand(kSpcCommand); }

bool CPacket::EnterOfflineMode() {
    return RunCommand(kOfflineCommand, [](PacketState& s) { s.request.value16 = kModeOffline; });
}

bool CPacket::SwitchDownloader() { return RunCommand(kSwitchDownloaderCommand); }

namespace {

auto WiFiRequest(uint16_t subsystemCommand, const uint8_t* mac) {
    return [subsystemCommand, mac](PacketState& s) {
        s.request.subsystem = kWiFiSubsystem;
        s.request.value16 = subsystemCommand;
        if (mac != nullptr) {
            std::memcpy(s.request.mac, mac, sizeof s.request.mac);
        } else {
            std::memset(s.request.mac, 0, sizeof s.request.mac);
        }
        s.request.subsystemStatus = 0;
    };
}

// The checks read this answer itself, so a record left by an earlier answer
// is never taken for this one.
bool WiFiAccepted(const PacketState& s) {
    return s.Answer(0) == kSubsystemCommand && s.Answer(answer::kSubsystemAt) == kWiFiSubsystem &&
           s.Answer(answer::kWiFiStatusAt) == 0;
}

}  // namespace

bool CPacket::AnsweredUnknownCommand() const {
    constexpr uint8_t kBadCommandAnswer = 0x13;
    return state_->responseLength > 0 && state_->responseBuffer[0] == kBadCommandAnswer;
}

int CPacket::ReadWiFiAddress(uint8_t mac[6]) {
    if (!RunCommand(kWiFiCommand, WiFiRequest(kWiFiRead, nullptr))) {
        return -1;
    }
    if (!WiFiAccepted(*state_)) {
        return 0;
    }
    for (size_t i = 0; i < answer::kWiFiAddressSize; ++i) {
        mac[i] = state_->Answer(answer::kWiFiAddressAt + i);
    }
    return 1;
}

int CPacket::WriteWiFiAddress(const uint8_t mac[6]) {
    if (!RunCommand(kWiFiCommand, WiFiRequest(kWiFiWrite, mac))) {
        return -1;
    }
    return WiFiAccepted(*state_) ? 1 : 0;
}

bool CPacket::SwitchToDiagMode() {
    Purge(platform::kPurgeAll);
    Write(reinterpret_cast<const uint8_t*>(kDiagModeCommand), sizeof kDiagModeCommand - 1);
    platform::Sleep(100);
    uint8_t reply[kDiagModeReplySize] = {};
    uint32_t received = 0;
    if (IsOpen() && QueuedInput() >= 1) {
        received = Read(reply, sizeof reply);
    }
    if (received < kDiagModeReplySize) {
        return false;
    }
    for (size_t i = 0; i < kDiagModeReplySize; ++i) {
        if (std::tolower(reply[i]) != std::tolower(static_cast<unsigned char>(kDiagModeReply[i]))) {
            return false;
        }
    }
    return true;
}

bool CPacket::CommunicateWithMobile() {
    uint32_t esn = 0;
    if (GetEsn(esn) || SwitchToDiagMode() || GetEsn(esn)) {
        return true;
    }
    ComposeError("Cannot communicate with the mobile, Since ");
    return false;
}

}  // namespace packet

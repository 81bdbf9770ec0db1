// The diagnostic command set, spoken while the card runs its normal firmware:
// ESN, software version, NV items, service programming code, offline mode,
// the switch to download mode, the Wi-Fi address, and the AT-command switch
// that turns a port still in AT mode into a diagnostic port.
#include <cctype>
#include <cstdio>
#include <cstring>

#include "packet/Packet.h"
#include "packet/PacketState.h"
#include "platform/Platform.h"

namespace packet {

namespace {

constexpr uint8_t kEsn = 0x01;
constexpr uint8_t kNvRead = 0x26;
constexpr uint8_t kNvWrite = 0x27;
constexpr uint8_t kModeChange = 0x29;
constexpr uint8_t kSoftwareVersion = 0x38;
constexpr uint8_t kSwitchDownloader = 0x3A;
constexpr uint8_t kServiceProgrammingCode = 0x41;
constexpr uint8_t kSubsystemCommand = 0x4B;
constexpr uint8_t kFileSystemOperation = 0x59;
constexpr uint8_t kWiFiSubsystem = 0xD3;
constexpr uint16_t kModeOffline = 1;
constexpr size_t kNvDataSize = 128;
constexpr size_t kWiFiAnswerSize = 11;
constexpr size_t kEsnAnswerSize = 5;
constexpr size_t kNvAnswerSize = 3 + kNvDataSize + 2;   // code, item, data, status

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
void PrepareNvRequest(PacketState& s, uint8_t command, uint16_t item, const uint8_t* data) {
    s.mode = PacketMode::Diag;
    s.request.command = command;
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
constexpr int kNvAnswerRounds = 3;

bool SendNvRequest(CPacket& packet, PacketState& s, uint16_t item) {
    for (int round = 0; round < kNvAnswerRounds; ++round) {
        if (!packet.SendPacket(3, 5000)) return false;
        if (s.AnswerLe16(1) == item) return true;
        s.errorText = "the answer is for another NV item";
    }
    return false;
}

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

bool CPacket::GetEsn(uint32_t& esn) {
    ResetCommand();
    state_->mode = PacketMode::Diag;
    state_->request.command = kEsn;
    if (!SendPacket(1, 300)) {
        ComposeError("Cannot Get the ESN Number of the Phone, Since ");
        esn = 0xFFFFFFFF;
        return false;
    }
    const uint8_t* b = state_->response.bytes;
    esn = static_cast<uint32_t>(b[1]) | static_cast<uint32_t>(b[2]) << 8 | static_cast<uint32_t>(b[3]) << 16 |
          static_cast<uint32_t>(b[4]) << 24;
    return true;
}

bool CPacket::GetSoftwareVersion(SoftwareVersionRecord& record) {
    ResetCommand();
    state_->mode = PacketMode::Diag;
    state_->request.command = kSoftwareVersion;
    if (!SendPacket(1, 300)) {
        ComposeError("Cannot get software version from the mobile");
        std::memset(&record, 0, sizeof record);
        return false;
    }
    std::memcpy(record.version, state_->version.version, sizeof record.version);
    return true;
}

bool CPacket::NvItemRead(uint16_t item, uint8_t data[128], uint16_t& status) {
    State& s = *state_;
    ResetCommand();
    PrepareNvRequest(s, kNvRead, item, data);
    if (!SendNvRequest(*this, s, item)) {
        ComposeError(WithItem("cannot read #%d NVItem, since ", item));
        status = 0xFFFF;
        std::memset(data, 0, kNvDataSize);
        return false;
    }
    const uint16_t answerStatus = s.AnswerLe16(3 + kNvDataSize);
    if (answerStatus == 0) {
        status = 0;
        std::memcpy(data, s.response.bytes + 3, kNvDataSize);
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
    ResetCommand();
    PrepareNvRequest(s, kNvWrite, item, data);
    if (!SendNvRequest(*this, s, item)) {
        ComposeError(WithItem("Cannot write #%d NVItem, Since ", item));
        status = 0xFFFF;
        return false;
    }
    const uint16_t answerStatus = s.AnswerLe16(3 + kNvDataSize);
    if (answerStatus == 0) {
        return true;
    }
    s.errorText = WithItem("Cannot Write #%d NVItem, Since ", item) + GetNvStatusText(answerStatus);
    status = answerStatus;
    return false;
}

bool CPacket::SendSpc() {
    ResetCommand();
    state_->mode = PacketMode::Diag;
    state_->request.command = kServiceProgrammingCode;
    return SendPacket(3, 15000) && state_->Answer(1) == 1;
}

bool CPacket::EnterOfflineMode() {
    ResetCommand();
    state_->mode = PacketMode::Diag;
    state_->request.command = kModeChange;
    state_->request.value16 = kModeOffline;
    if (!SendPacket(1, 5000)) {
        ComposeError("Cannot Put the Phone Offline, Since ");
        return false;
    }
    return true;
}

bool CPacket::SwitchDownloader() {
    ResetCommand();
    state_->mode = PacketMode::Diag;
    state_->request.command = kSwitchDownloader;
    if (!SendPacket(1, 5000)) {
        ComposeError("Cannot Switch to Downloader, Since ");
        return false;
    }
    return true;
}

namespace {

void PrepareWiFi(PacketState& s, uint16_t subsystemCommand, const uint8_t* mac) {
    s.mode = PacketMode::Diag;
    s.request.command = kSubsystemCommand;
    s.request.subsystem = kWiFiSubsystem;
    s.request.value16 = subsystemCommand;
    if (mac != nullptr) {
        std::memcpy(s.request.mac, mac, sizeof s.request.mac);
    } else {
        std::memset(s.request.mac, 0, sizeof s.request.mac);
    }
    s.request.subsystemStatus = 0;
}

// The checks read this answer itself, so a record left by an earlier answer
// is never taken for this one.
bool WiFiAccepted(const PacketState& s) {
    return s.Answer(0) == kSubsystemCommand && s.Answer(1) == kWiFiSubsystem && s.Answer(10) == 0;
}

}  // namespace

bool CPacket::AnsweredUnknownCommand() const {
    constexpr uint8_t kBadCommandAnswer = 0x13;
    return state_->responseLength > 0 && state_->responseBuffer[0] == kBadCommandAnswer;
}

int CPacket::ReadWiFiAddress(uint8_t mac[6]) {
    ResetCommand();
    PrepareWiFi(*state_, 0, nullptr);
    if (!SendPacket(1, 5000)) {
        return -1;
    }
    if (!WiFiAccepted(*state_)) {
        return 0;
    }
    for (size_t i = 0; i < 6; ++i) {
        mac[i] = state_->Answer(4 + i);
    }
    return 1;
}

int CPacket::WriteWiFiAddress(const uint8_t mac[6]) {
    ResetCommand();
    PrepareWiFi(*state_, 1, mac);
    if (!SendPacket(1, 5000)) {
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

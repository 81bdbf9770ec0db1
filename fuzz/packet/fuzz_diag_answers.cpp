// Any bytes as the firmware's answer to each diagnostic request. Whatever a
// command reports must come from bytes the answer carried: an answer too
// short for a field never passes off zeros (or its check bytes) as the ESN,
// an NV item's data or status, or the Wi-Fi address.
#include <cstdint>
#include <cstring>

#include "fuzz/common/FuzzInput.h"
#include "fuzz/packet/AnswerCommands.h"
#include "fuzz/packet/AnswerPort.h"

using fuzz::Require;

namespace {

constexpr size_t kNvAnswerSize = 1 + 2 + 128 + 2;
constexpr size_t kWiFiAnswerSize = 11;

void Esn(packet::CPacket& p, const std::vector<uint8_t>& body) {
    uint32_t esn = 0;
    if (p.GetEsn(esn)) {
        Require(body.size() >= 5 && body[0] == 0x01);
        uint32_t carried = 0;
        std::memcpy(&carried, body.data() + 1, 4);   // host is little-endian
        Require(esn == carried);
    } else {
        Require(esn == 0xFFFFFFFF);
    }
}

void Version(packet::CPacket& p, const std::vector<uint8_t>&) {
    packet::SoftwareVersionRecord record;
    std::memset(&record, 0x55, sizeof record);
    if (p.GetSoftwareVersion(record)) {
        Require(std::memchr(record.version, 0, sizeof record.version) != nullptr);
    }
}

void NvRead(packet::CPacket& p, const std::vector<uint8_t>& body) {
    uint8_t data[128];
    std::memset(data, 0xA5, sizeof data);
    uint16_t status = 1;
    if (p.NvItemRead(77, data, status)) {
        Require(body.size() >= kNvAnswerSize && body[0] == 0x26 && status == 0);
        Require(std::memcmp(data, body.data() + 3, sizeof data) == 0);
    }
}

void NvWrite(packet::CPacket& p, const std::vector<uint8_t>& body) {
    uint8_t data[128] = {1, 2, 3};
    uint16_t status = 1;
    if (p.NvItemWrite(77, data, status)) {
        Require(body.size() >= kNvAnswerSize && body[0] == 0x27);
    }
}

void Spc(packet::CPacket& p, const std::vector<uint8_t>& body) {
    if (p.SendSpc()) Require(body.size() >= 2 && body[1] == 1);
}

void Offline(packet::CPacket& p, const std::vector<uint8_t>& body) {
    if (p.EnterOfflineMode()) Require(!body.empty() && body[0] == 0x29);
}

void Switch(packet::CPacket& p, const std::vector<uint8_t>& body) {
    if (p.SwitchDownloader()) Require(!body.empty() && body[0] == 0x3A);
}

void WiFiRead(packet::CPacket& p, const std::vector<uint8_t>& body) {
    uint8_t mac[6] = {9, 9, 9, 9, 9, 9};
    if (p.ReadWiFiAddress(mac) == 1) {
        Require(body.size() >= kWiFiAnswerSize && body[10] == 0);
        Require(std::memcmp(mac, body.data() + 4, sizeof mac) == 0);
    }
}

void WiFiWrite(packet::CPacket& p, const std::vector<uint8_t>& body) {
    const uint8_t mac[6] = {0, 0x1E, 0x10, 1, 2, 3};
    if (p.WriteWiFiAddress(mac) == 1) Require(body.size() >= kWiFiAnswerSize && body[10] == 0);
}

void LockAccess(packet::CPacket& p, const std::vector<uint8_t>& body) {
    if (p.EnableDisableLockFileRW(1)) Require(body.size() >= 3 && body[0] == 0x59 && body[2] == 0);
}

using Command = void (*)(packet::CPacket&, const std::vector<uint8_t>&);
constexpr Command kCommands[] = {Esn, Version, NvRead, NvWrite, Spc, Offline, Switch, WiFiRead, WiFiWrite, LockAccess};
static_assert(std::size(kCommands) == std::size(fuzz::kDiagRequests));

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::FuzzInput in(data, size);
    const Command command = kCommands[in.U8() % std::size(kCommands)];
    const auto answer = in.Rest();
    if (answer.size() > 4096) return 0;
    fuzz::AnsweredPacket port(answer);
    command(port.packet, fuzz::DecodedBody(answer, false));
    return 0;
}

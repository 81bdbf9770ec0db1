// What the firmware was asked, in words for the request log, and the EFS2
// path a request names or holds open, which the efs_* fault rules match.
#include <cstdio>

#include "sim/card/Card.h"
#include "packet/ByteOrder.h"
#include "packet/Efs2Codes.h"

namespace sim {
namespace {

// Offsets in an EFS2 request: the subsystem header, then the fields.
constexpr size_t kEfsCommand = 2;
constexpr size_t kEfsFirstField = 4;
constexpr size_t kEfsSecondField = 8;
constexpr size_t kEfsThirdField = 12;
constexpr size_t kOpenPath = 12;
constexpr size_t kOpenDirPath = 4;

std::string TextAt(const Bytes& body, size_t at) {
    std::string text;
    for (size_t i = at; i < body.size() && body[i] != 0; ++i) text.push_back(static_cast<char>(body[i]));
    return NormaliseEfsPath(text);
}

uint32_t FieldAt(const Bytes& body, size_t at) { return body.size() >= at + 4 ? packet::bytes::ReadLe32(body, at) : 0; }

std::string Hex(uint8_t code) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%02X", code);
    return text;
}

struct Named {
    uint8_t code;
    const char* name;
};

constexpr Named kPlainRequests[] = {
    {0x01, "esn"}, {0x0C, "status"}, {0x29, "offline"}, {0x38, "version"}, {0x3A, "downloader"}, {0x41, "spc"},
};

}  // namespace

std::string Card::EfsPathOf(const Bytes& body) const {
    if (body.size() < kEfsFirstField) return {};
    const uint16_t command = packet::bytes::ReadLe16(body, kEfsCommand);
    const uint32_t handle = FieldAt(body, kEfsFirstField);
    switch (command) {
        case packet::efs2::kOpen: return TextAt(body, kOpenPath);
        case packet::efs2::kOpenDir: return TextAt(body, kOpenDirPath);
        case packet::efs2::kClose:
        case packet::efs2::kRead:
        case packet::efs2::kWrite:
        case packet::efs2::kFstat: {
            auto file = files_.find(handle);
            return file == files_.end() ? std::string() : file->second.path;
        }
        case packet::efs2::kReadDir:
        case packet::efs2::kCloseDir: {
            auto dir = dirs_.find(handle);
            return dir == dirs_.end() ? std::string() : dir->second.path;
        }
        default: return {};
    }
}

std::string Card::DescribeRequest(const Bytes& body) const {
    const uint8_t code = body[0];
    for (const Named& plain : kPlainRequests) {
        if (plain.code == code) return plain.name;
    }
    if ((code == 0x26 || code == 0x27) && body.size() >= 3) {
        return (code == 0x27 ? "nvwrite " : "nvread ") + std::to_string(packet::bytes::ReadLe16(body, 1));
    }
    if (code == 0x59 && body.size() >= 3) return body[2] == 0 ? "lock off" : "lock on";
    if (code == 0x4B && body.size() >= 4 && body[1] == 0xD3) return packet::bytes::ReadLe16(body, 2) == 1 ? "wifi write" : "wifi read";
    if (code != 0x4B || body.size() < 4 || body[1] != packet::efs2::kSubsystem) return Hex(code);

    const std::string path = EfsPathOf(body);
    switch (packet::bytes::ReadLe16(body, kEfsCommand)) {
        case packet::efs2::kOpen: return "efsopen " + path + ((FieldAt(body, kEfsFirstField) & 3) == 0 ? " r" : " w");
        case packet::efs2::kClose: return "efsclose " + path;
        case packet::efs2::kFstat: return "efsfstat " + path;
        case packet::efs2::kRead:
            return "efsread " + path + " " + std::to_string(FieldAt(body, kEfsThirdField)) + " " +
                   std::to_string(FieldAt(body, kEfsSecondField));
        case packet::efs2::kWrite:
            return "efswrite " + path + " " + std::to_string(FieldAt(body, kEfsSecondField)) + " " +
                   std::to_string(body.size() >= kEfsThirdField ? body.size() - kEfsThirdField : 0);
        case packet::efs2::kOpenDir: return "efsopendir " + path;
        case packet::efs2::kReadDir: return "efsreaddir " + path + " " + std::to_string(FieldAt(body, kEfsSecondField));
        case packet::efs2::kCloseDir: return "efsclosedir " + path;
        default: return "efs " + std::to_string(packet::bytes::ReadLe16(body, kEfsCommand));
    }
}

std::vector<FaultRule*> Card::MatchEfsFaults(FaultKind kind, int command, const std::string& path) {
    std::vector<FaultRule*> out;
    for (FaultRule* rule : MatchFaults(kind, command)) {
        if (rule->path.empty() || NormaliseEfsPath(rule->path) == path) out.push_back(rule);
    }
    return out;
}

bool Card::EfsFaultHits(FaultKind kind, int command, const std::string& path, int64_t& value) {
    bool hit = false;
    for (FaultRule* rule : MatchEfsFaults(kind, command, path)) {
        if (!FaultHits(*rule)) continue;
        hit = true;
        if (rule->valueGiven) value = rule->value;
    }
    return hit;
}

}  // namespace sim

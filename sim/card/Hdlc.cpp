#include "sim/card/Hdlc.h"

#include <array>

namespace sim {
namespace {

constexpr std::array<uint16_t, 256> MakeTable() {
    std::array<uint16_t, 256> table{};
    for (uint32_t i = 0; i < 256; ++i) {
        uint16_t value = static_cast<uint16_t>(i);
        for (int bit = 0; bit < 8; ++bit) {
            value = (value & 1) ? static_cast<uint16_t>((value >> 1) ^ 0x8408) : static_cast<uint16_t>(value >> 1);
        }
        table[i] = value;
    }
    return table;
}

constexpr std::array<uint16_t, 256> kTable = MakeTable();

}  // namespace

uint16_t FcsRegister(std::span<const uint8_t> bytes, uint16_t start) {
    uint16_t reg = start;
    for (uint8_t byte : bytes) {
        reg = static_cast<uint16_t>((reg >> 8) ^ kTable[(reg ^ byte) & 0xFF]);
    }
    return reg;
}

uint16_t Fcs(std::span<const uint8_t> bytes) { return static_cast<uint16_t>(FcsRegister(bytes) ^ 0xFFFF); }

bool FcsIsGood(std::span<const uint8_t> bodyAndFcs) {
    return bodyAndFcs.size() >= 3 && FcsRegister(bodyAndFcs) == kGoodFcsResidue;
}

std::vector<uint8_t> BuildFrame(std::span<const uint8_t> body, bool leadingFlag) {
    std::vector<uint8_t> plain(body.begin(), body.end());
    const uint16_t fcs = Fcs(body);
    plain.push_back(static_cast<uint8_t>(fcs & 0xFF));
    plain.push_back(static_cast<uint8_t>(fcs >> 8));
    std::vector<uint8_t> out;
    out.reserve(plain.size() * 2 + 2);
    if (leadingFlag) out.push_back(kFlag);
    for (uint8_t byte : plain) {
        if (byte == kFlag || byte == kEscape) {
            out.push_back(kEscape);
            out.push_back(static_cast<uint8_t>(byte ^ 0x20));
        } else {
            out.push_back(byte);
        }
    }
    out.push_back(kFlag);
    return out;
}

std::vector<uint8_t> Unescape(std::span<const uint8_t> escaped) {
    std::vector<uint8_t> out;
    out.reserve(escaped.size());
    for (size_t i = 0; i < escaped.size(); ++i) {
        if (escaped[i] == kEscape && i + 1 < escaped.size()) {
            out.push_back(static_cast<uint8_t>(escaped[++i] ^ 0x20));
        } else if (escaped[i] != kEscape) {
            out.push_back(escaped[i]);
        }
    }
    return out;
}

bool Deframer::Push(uint8_t byte) {
    if (byte != kFlag) {
        current_.escaped.push_back(byte);
        return false;
    }
    if (current_.escaped.empty()) {
        current_.leadingFlag = true;
        return false;
    }
    done_ = std::move(current_);
    current_ = RawFrame{};
    return true;
}

RawFrame Deframer::Take() { return std::move(done_); }

void Deframer::Reset() {
    current_ = RawFrame{};
    done_ = RawFrame{};
}

}  // namespace sim

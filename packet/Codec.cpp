#include "packet/Codec.h"

#include <array>

namespace packet::codec {

namespace {

// The byte-wise table of the bit-reversed polynomial 0x8408, as RFC 1662 lists it.
constexpr std::array<uint16_t, 256> MakeFcsTable() {
    std::array<uint16_t, 256> table{};
    for (uint32_t b = 0; b < 256; ++b) {
        uint32_t v = b;
        for (int bit = 0; bit < 8; ++bit) {
            v = (v & 1) != 0 ? (v >> 1) ^ 0x8408 : v >> 1;
        }
        table[b] = static_cast<uint16_t>(v);
    }
    return table;
}

constexpr std::array<uint16_t, 256> kFcsTable = MakeFcsTable();
static_assert(kFcsTable[1] == 0x1189 && kFcsTable[255] == 0x0F78, "RFC 1662 FCS table");

bool NeedsEscape(uint8_t b) { return b == kFlag || b == kEscape; }

}  // namespace

uint16_t FcsUpdate(uint16_t reg, std::span<const uint8_t> bytes) {
    for (uint8_t b : bytes) {
        reg = static_cast<uint16_t>((reg >> 8) ^ kFcsTable[(reg ^ b) & 0xFF]);
    }
    return reg;
}

uint16_t ComputeFcs(std::span<const uint8_t> bytes) { return static_cast<uint16_t>(FcsUpdate(kFcsInitial, bytes) ^ 0xFFFF); }

bool CheckFcs(std::span<const uint8_t> bytes) {
    return !bytes.empty() && FcsUpdate(kFcsInitial, bytes) == kFcsGoodResidue;
}

size_t AppendFcs(std::span<uint8_t> buffer, size_t n) {
    if (n > buffer.size() || buffer.size() - n < 2) {
        return 0;
    }
    const uint16_t fcs = ComputeFcs(buffer.first(n));
    buffer[n] = static_cast<uint8_t>(fcs & 0xFF);
    buffer[n + 1] = static_cast<uint8_t>(fcs >> 8);
    return n + 2;
}

size_t EscapedSize(std::span<const uint8_t> bytes) {
    size_t size = bytes.size();
    for (uint8_t b : bytes) {
        size += NeedsEscape(b) ? 1 : 0;
    }
    return size;
}

size_t Escape(std::span<const uint8_t> bytes, std::span<uint8_t> out) {
    size_t at = 0;
    for (uint8_t b : bytes) {
        const size_t need = NeedsEscape(b) ? 2 : 1;
        if (out.size() - at < need) {
            return 0;
        }
        if (need == 2) {
            out[at++] = kEscape;
            out[at++] = static_cast<uint8_t>(b ^ kEscapeXor);
        } else {
            out[at++] = b;
        }
    }
    return at;
}

UnescapeResult Unescape(std::span<const uint8_t> bytes, std::span<uint8_t> out) {
    UnescapeResult result;
    for (size_t i = 0; i < bytes.size() && result.length < out.size(); ++i) {
        if (bytes[i] == kEscape) {
            if (++i == bytes.size()) {
                break;
            }
            out[result.length] = static_cast<uint8_t>(bytes[i] ^ kEscapeXor);
            result.endsWithFlag = out[result.length++] == kFlag;
        } else {
            out[result.length++] = bytes[i];
            result.endsWithFlag = bytes[i] == kFlag;
        }
    }
    return result;
}

size_t FrameSize(std::span<const uint8_t> body, bool leadingFlag) {
    const uint16_t fcs = ComputeFcs(body);
    const uint8_t fcsBytes[2] = {static_cast<uint8_t>(fcs & 0xFF), static_cast<uint8_t>(fcs >> 8)};
    return (leadingFlag ? 1 : 0) + EscapedSize(body) + EscapedSize(fcsBytes) + 1;
}

size_t BuildFrame(std::span<const uint8_t> body, bool leadingFlag, std::span<uint8_t> out) {
    const uint16_t fcs = ComputeFcs(body);
    const uint8_t fcsBytes[2] = {static_cast<uint8_t>(fcs & 0xFF), static_cast<uint8_t>(fcs >> 8)};
    const size_t need = (leadingFlag ? 1 : 0) + EscapedSize(body) + EscapedSize(fcsBytes) + 1;
    if (need > out.size()) {
        return 0;
    }
    size_t at = 0;
    if (leadingFlag) {
        out[at++] = kFlag;
    }
    at += Escape(body, out.subspan(at));
    at += Escape(fcsBytes, out.subspan(at));
    out[at++] = kFlag;
    return at;
}

DecodeResult DecodeAnswer(std::span<const uint8_t> received, bool flagExpected, std::span<uint8_t> out) {
    DecodeResult result;
    // With a flag expected, the received bytes are read as if they sat behind
    // one (supplied when the answer lacks it); the flag itself is not decoded.
    const bool supplied = flagExpected && (received.empty() || received[0] != kFlag);
    const size_t skip = flagExpected && !supplied ? 1 : 0;
    auto at = [&](size_t i) -> uint8_t { return supplied ? (i == 0 ? kFlag : received[i - 1]) : received[i]; };
    size_t count = received.size() + (supplied ? 1 : 0);
    while (count >= 2 && at(count - 2) == kFlag) {
        --count;
    }
    const size_t end = supplied ? count - 1 : count;   // in received's numbering
    const size_t begin = skip;
    const std::span<const uint8_t> escaped = begin < end ? received.subspan(begin, end - begin) : std::span<const uint8_t>{};
    const UnescapeResult plain = Unescape(escaped, out);
    if (plain.length == 0 || !plain.endsWithFlag) {
        result.status = DecodeStatus::NoEndFlag;
        return result;
    }
    result.length = plain.length - 1;
    result.status = CheckFcs(out.first(result.length)) ? DecodeStatus::Ok : DecodeStatus::BadFcs;
    return result;
}

void ReadAhead::Filled(uint32_t count) {
    fill_ = count > kCapacity ? static_cast<uint32_t>(kCapacity) : count;
    lastRead_ = fill_;
    position_ = 0;
}

size_t ReadAhead::Step(std::span<uint8_t> out) {
    size_t moved = 0;
    while (fill_ != 0 && moved < out.size()) {
        const uint8_t b = bytes_[position_++];
        out[moved++] = b;
        const bool emptied = position_ == fill_;
        if (emptied) {
            fill_ = 0;
            position_ = 0;
        }
        if ((b == kFlag && moved > 1) || emptied) {
            break;
        }
    }
    return moved;
}

}  // namespace packet::codec

// Test-side framing, written independently of the product's table-driven
// codec (a bit-wise CRC-16/X-25), so a fault in one is caught by the other.
#pragma once

#include <cstdint>
#include <vector>

namespace test_support {

using Bytes = std::vector<uint8_t>;

inline uint16_t ReferenceFcs(const Bytes& data) {
    uint16_t reg = 0xFFFF;
    for (uint8_t byte : data) {
        reg ^= byte;
        for (int bit = 0; bit < 8; ++bit) {
            reg = (reg & 1) != 0 ? static_cast<uint16_t>((reg >> 1) ^ 0x8408) : static_cast<uint16_t>(reg >> 1);
        }
    }
    return static_cast<uint16_t>(~reg);
}

// A frame as the card or the host puts it on the wire.
inline Bytes Frame(const Bytes& body, bool leadingFlag) {
    Bytes plain = body;
    const uint16_t fcs = ReferenceFcs(body);
    plain.push_back(static_cast<uint8_t>(fcs & 0xFF));
    plain.push_back(static_cast<uint8_t>(fcs >> 8));
    Bytes out;
    if (leadingFlag) {
        out.push_back(0x7E);
    }
    for (uint8_t b : plain) {
        if (b == 0x7E || b == 0x7D) {
            out.push_back(0x7D);
            out.push_back(static_cast<uint8_t>(b ^ 0x20));
        } else {
            out.push_back(b);
        }
    }
    out.push_back(0x7E);
    return out;
}

// Splits received bytes into frame bodies (FCS checked and removed). A frame
// that fails its check is returned as {0xFF, 0xFF, 0xFF}.
inline std::vector<Bytes> Bodies(const Bytes& wire) {
    std::vector<Bytes> out;
    Bytes current;
    for (uint8_t b : wire) {
        if (b != 0x7E) {
            current.push_back(b);
            continue;
        }
        if (current.empty()) continue;
        Bytes plain;
        for (size_t i = 0; i < current.size(); ++i) {
            if (current[i] == 0x7D && i + 1 < current.size()) {
                plain.push_back(static_cast<uint8_t>(current[++i] ^ 0x20));
            } else {
                plain.push_back(current[i]);
            }
        }
        current.clear();
        if (plain.size() < 3) {
            out.push_back({0xFF, 0xFF, 0xFF});
            continue;
        }
        Bytes body(plain.begin(), plain.end() - 2);
        const uint16_t fcs = static_cast<uint16_t>(plain[plain.size() - 2] | plain.back() << 8);
        out.push_back(fcs == ReferenceFcs(body) ? body : Bytes{0xFF, 0xFF, 0xFF});
    }
    return out;
}

inline Bytes Concat(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

}  // namespace test_support

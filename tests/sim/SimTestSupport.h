// Test-side framing, written independently of the card's codec (bit-wise
// CRC instead of the table), so a fault in one is caught by the other.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/Platform.h"
#include "tests/clocks/TestClocks.h"
#include "sim/Card.h"

namespace simtest {

using Bytes = std::vector<uint8_t>;

inline uint16_t BitwiseFcs(const Bytes& body) {
    uint16_t reg = 0xFFFF;
    for (uint8_t byte : body) {
        reg ^= byte;
        for (int bit = 0; bit < 8; ++bit) reg = (reg & 1) ? static_cast<uint16_t>((reg >> 1) ^ 0x8408) : static_cast<uint16_t>(reg >> 1);
    }
    return static_cast<uint16_t>(~reg);
}

// Body -> wire frame.
inline Bytes Frame(const Bytes& body, bool leadingFlag) {
    Bytes plain = body;
    const uint16_t fcs = BitwiseFcs(body);
    plain.push_back(static_cast<uint8_t>(fcs));
    plain.push_back(static_cast<uint8_t>(fcs >> 8));
    Bytes out;
    if (leadingFlag) out.push_back(0x7E);
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
        out.push_back(fcs == BitwiseFcs(body) ? body : Bytes{0xFF, 0xFF, 0xFF});
    }
    return out;
}

inline Bytes Drain(sim::Card& card) {
    Bytes out(card.Available());
    out.resize(card.Read(out.data(), out.size()));
    return out;
}

inline Bytes Send(sim::Card& card, const Bytes& wire) {
    card.Receive(wire);
    return Drain(card);
}

// The one answer body of a request (empty when there is none or several).
inline Bytes Ask(sim::Card& card, const Bytes& body, bool leadingFlag) {
    auto bodies = Bodies(Send(card, Frame(body, leadingFlag)));
    return bodies.size() == 1 ? bodies[0] : Bytes{};
}

inline Bytes Le32(uint32_t v) {
    return {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v >> 16), static_cast<uint8_t>(v >> 24)};
}

inline Bytes Cat(std::initializer_list<Bytes> parts) {
    size_t total = 0;
    for (const auto& p : parts) total += p.size();
    Bytes out(total);
    size_t at = 0;
    for (const auto& p : parts) {
        std::copy(p.begin(), p.end(), out.begin() + static_cast<std::ptrdiff_t>(at));
        at += p.size();
    }
    return out;
}

inline Bytes Text(const std::string& s) { return Bytes(s.begin(), s.end()); }

// Installs a recording clock for the test's lifetime.
class ClockedTest : public ::testing::Test {
protected:
    void SetUp() override { platform::SetClock(&clock_); }
    void TearDown() override { platform::SetClock(nullptr); }

    // Lets the card finish a mode change: it leaves the bus and comes back.
    void Reenumerate(sim::Card& card) {
        const uint32_t generation = card.Generation();
        clock_.Advance(200);
        EXPECT_NE(card.Generation(), generation);
        EXPECT_FALSE(card.Present());
        clock_.Advance(2000);
        EXPECT_TRUE(card.Present());
    }

    platform::RecordingClock clock_;
};

}  // namespace simtest

// Talking to the card in tests: frames from the reference framing, a
// recording clock, and a few byte builders.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/Platform.h"
#include "tests/support/TestClocks.h"
#include "sim/card/Card.h"
#include "tests/support/ReferenceFcs.h"

namespace simtest {

using namespace test_support;

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

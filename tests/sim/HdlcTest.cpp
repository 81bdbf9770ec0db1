#include <gtest/gtest.h>

#include <random>

#include "SimTestSupport.h"
#include "sim/card/Hdlc.h"

using simtest::Bytes;

TEST(Hdlc, FcsMatchesTheX25CheckValueAndKnownFrames) {
    const Bytes check = simtest::Text("123456789");
    EXPECT_EQ(sim::Fcs(check), 0x906E);
    // The ESN request and the download no-op as they appear on the wire.
    EXPECT_EQ(sim::BuildFrame(Bytes{0x01}, false), (Bytes{0x01, 0xF1, 0xE1, 0x7E}));
    EXPECT_EQ(sim::BuildFrame(Bytes{0x06}, true), (Bytes{0x7E, 0x06, 0x4E, 0x95, 0x7E}));
    Bytes withFcs = {0x01, 0xF1, 0xE1};
    EXPECT_TRUE(sim::FcsIsGood(withFcs));
    withFcs[1] ^= 0x10;
    EXPECT_FALSE(sim::FcsIsGood(withFcs));
    EXPECT_FALSE(sim::FcsIsGood(Bytes{0x00, 0x00}));
}

TEST(Hdlc, EscapesFlagAndEscapeBytesInBodyAndFcs) {
    const Bytes frame = sim::BuildFrame(Bytes{0x7E, 0x7D}, true);
    EXPECT_EQ(frame[0], 0x7E);
    EXPECT_EQ(frame[1], 0x7D);
    EXPECT_EQ(frame[2], 0x5E);
    EXPECT_EQ(frame[3], 0x7D);
    EXPECT_EQ(frame[4], 0x5D);
    // Against the test's own bit-wise implementation over many bodies, some
    // of which have an FCS byte that needs escaping.
    std::mt19937 random(7);
    int escapedFcs = 0;
    for (int n = 0; n < 2000; ++n) {
        Bytes body(1 + random() % 40);
        for (auto& b : body) b = static_cast<uint8_t>(random() % 4 == 0 ? 0x7E + random() % 2 : random());
        const uint16_t fcs = simtest::ReferenceFcs(body);
        if ((fcs & 0xFF) == 0x7E || (fcs & 0xFF) == 0x7D || (fcs >> 8) == 0x7E || (fcs >> 8) == 0x7D) ++escapedFcs;
        ASSERT_EQ(sim::BuildFrame(body, n % 2 == 0), simtest::Frame(body, n % 2 == 0));
        Bytes escaped = sim::BuildFrame(body, false);
        escaped.pop_back();
        const Bytes plain = sim::Unescape(escaped);
        ASSERT_TRUE(sim::FcsIsGood(plain));
        ASSERT_EQ(Bytes(plain.begin(), plain.end() - 2), body);
    }
    EXPECT_GT(escapedFcs, 0);
}

TEST(Hdlc, DeframerSplitsAtFlagsAndTellsLeadingFlags) {
    sim::Deframer deframer;
    std::vector<sim::RawFrame> frames;
    const Bytes stream = {0x01, 0xF1, 0xE1, 0x7E, 0x7E, 0x7E, 0x06, 0x4E, 0x95, 0x7E, 0x7E, 0x0C};
    for (uint8_t b : stream) {
        if (deframer.Push(b)) frames.push_back(deframer.Take());
    }
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_FALSE(frames[0].leadingFlag);
    EXPECT_EQ(frames[0].escaped, (Bytes{0x01, 0xF1, 0xE1}));
    EXPECT_TRUE(frames[1].leadingFlag);
    EXPECT_EQ(frames[1].escaped, (Bytes{0x06, 0x4E, 0x95}));
    EXPECT_EQ(deframer.Pending(), Bytes{0x0C});
}

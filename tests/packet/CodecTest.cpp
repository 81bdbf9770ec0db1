#include "packet/Codec.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "packet/Packet.h"
#include "tests/support/ScriptedPort.h"

namespace packet_test {
using namespace test_support;
namespace {

using namespace packet::codec;

std::span<const uint8_t> S(const Bytes& b) { return {b.data(), b.size()}; }

Bytes Decode(const Bytes& received, bool flagExpected, DecodeStatus& status) {
    Bytes out(received.size() + 1);
    const DecodeResult r = DecodeAnswer(S(received), flagExpected, out);
    status = r.status;
    out.resize(r.length);
    return out;
}

// A body whose FCS has a flag or escape byte in it, found by search.
Bytes BodyWithEscapedFcs(uint8_t which) {
    for (uint32_t v = 0; v < 65536; ++v) {
        const Bytes body = {0x4B, 0x13, static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8)};
        const uint16_t fcs = ReferenceFcs(body);
        if ((fcs & 0xFF) == which || (fcs >> 8) == which) {
            return body;
        }
    }
    return {};
}

TEST(Fcs, CheckValueAndTableAgreeWithTheBitwiseDefinition) {
    const std::string check = "123456789";
    const Bytes digits(check.begin(), check.end());
    EXPECT_EQ(ComputeFcs(S(digits)), 0x906E);
    Bytes data;
    for (int i = 0; i < 300; ++i) {
        data.push_back(static_cast<uint8_t>(i * 37 + 11));
        ASSERT_EQ(ComputeFcs(S(data)), ReferenceFcs(data)) << "length " << data.size();
    }
}

TEST(Fcs, AppendStoresLowByteFirstAndCheckAcceptsOnlyIntactBytes) {
    uint8_t buffer[11] = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};
    EXPECT_EQ(packet::CPacket::AppendFcs(buffer, 9), 11u);
    EXPECT_EQ(buffer[9], 0x6E);
    EXPECT_EQ(buffer[10], 0x90);
    EXPECT_TRUE(packet::CPacket::CheckFcs(buffer, 11));
    buffer[4] ^= 0x01;
    EXPECT_FALSE(packet::CPacket::CheckFcs(buffer, 11));
    EXPECT_FALSE(packet::CPacket::CheckFcs(buffer, 0));
    EXPECT_EQ(AppendFcs(std::span<uint8_t>(buffer, 10), 9), 0u) << "no room for the FCS";
}

TEST(Framing, EscapesFlagAndEscapeBytesInBodyAndFcs) {
    Bytes frame(64);
    const Bytes body = {0x01, 0x7E, 0x02, 0x7D, 0x03};
    frame.resize(BuildFrame(S(body), true, frame));
    EXPECT_EQ(frame, Frame(body, true));
    const Bytes start(frame.begin(), frame.begin() + 7);
    EXPECT_EQ(start, (Bytes{0x7E, 0x01, 0x7D, 0x5E, 0x02, 0x7D, 0x5D}));

    for (uint8_t special : {uint8_t{0x7E}, uint8_t{0x7D}}) {
        const Bytes b = BodyWithEscapedFcs(special);
        ASSERT_FALSE(b.empty());
        Bytes f(64);
        f.resize(BuildFrame(S(b), false, f));
        EXPECT_EQ(f, Frame(b, false));
        EXPECT_EQ(f.size(), b.size() + 2 + 1 + 1) << "one FCS byte escaped";
        DecodeStatus status;
        const Bytes back = Decode(f, false, status);
        EXPECT_EQ(status, DecodeStatus::Ok);
        EXPECT_EQ(Bytes(back.begin(), back.begin() + 4), b);
    }
}

TEST(Framing, RefusesAFrameThatDoesNotFit) {
    const Bytes body(1023, 0x7E);
    Bytes out(2048);
    EXPECT_GE(FrameSize(S(body), true), 1 + 2046 + 2 + 1u);
    EXPECT_EQ(BuildFrame(S(body), true, out), 0u);
    const Bytes fits(1020, 0x7E);
    EXPECT_EQ(BuildFrame(S(fits), true, out), FrameSize(S(fits), true));
}

TEST(Decoding, AcceptsTheVariantsTheCardSends) {
    const Bytes body = {0x02, 0x7E, 0x11};
    DecodeStatus status;
    Bytes decoded = Decode(Frame(body, true), true, status);
    EXPECT_EQ(status, DecodeStatus::Ok);
    EXPECT_EQ(Bytes(decoded.begin(), decoded.begin() + 3), body);
    EXPECT_EQ(decoded.size(), 5u);

    decoded = Decode(Frame(body, false), true, status);   // leading flag missing
    EXPECT_EQ(status, DecodeStatus::Ok);
    EXPECT_EQ(decoded.size(), 5u);
    decoded = Decode(Concat(Frame(body, true), {0x7E}), true, status);   // doubled closing flag
    EXPECT_EQ(status, DecodeStatus::Ok);
    decoded = Decode(Concat(Frame(body, false), {0x55}), false, status);   // one stray byte behind
    EXPECT_EQ(status, DecodeStatus::Ok);
    EXPECT_EQ(decoded.size(), 5u);
}

TEST(Decoding, ReportsMissingEndFlagAndBadFcs) {
    Bytes frame = Frame({0x01, 0x10, 0x20}, false);
    DecodeStatus status;
    Decode(Bytes(frame.begin(), frame.end() - 1), false, status);
    EXPECT_EQ(status, DecodeStatus::NoEndFlag);
    frame[1] ^= 0x04;
    Decode(frame, false, status);
    EXPECT_EQ(status, DecodeStatus::BadFcs);
    Decode({}, true, status);
    EXPECT_EQ(status, DecodeStatus::NoEndFlag);
    Decode({0x7E}, false, status);
    EXPECT_EQ(status, DecodeStatus::BadFcs) << "an empty answer never checks";
    // An escaped flag at the end unescapes to 0x7E and closes the answer;
    // what stands before it is then judged by its FCS.
    Decode({0x01, 0x02, 0x7D, 0x5E}, false, status);
    EXPECT_EQ(status, DecodeStatus::BadFcs);
    // Escaped 0x7D at the end leaves no flag behind.
    Decode({0x01, 0x02, 0x7D, 0x5D}, false, status);
    EXPECT_EQ(status, DecodeStatus::NoEndFlag);
}

// The answer decoding written out step by step, the plain way: put a missing
// leading flag in front, cut surplus bytes behind the first closing flag,
// unescape, require a closing 0x7E, check the FCS (residue 0xF0B8,
// complemented 0x0F47).
DecodeStatus StepwiseDecode(Bytes received, bool flagExpected, Bytes& decoded) {
    if (flagExpected && (received.empty() || received[0] != 0x7E)) {
        received.insert(received.begin(), 0x7E);
    }
    size_t count = received.size();
    while (count >= 2 && received[count - 2] == 0x7E) {
        --count;
    }
    Bytes plain;
    for (size_t i = flagExpected ? 1 : 0; i < count; ++i) {
        if (received[i] == 0x7D) {
            if (++i < count) {
                plain.push_back(static_cast<uint8_t>(received[i] ^ 0x20));
            }
        } else {
            plain.push_back(received[i]);
        }
    }
    if (plain.empty() || plain.back() != 0x7E) {
        return DecodeStatus::NoEndFlag;
    }
    plain.pop_back();
    decoded = plain;
    if (plain.empty() || ReferenceFcs(plain) != 0x0F47) {
        return DecodeStatus::BadFcs;
    }
    return DecodeStatus::Ok;
}

TEST(Decoding, AgreesWithTheStepwiseRulesOnMixedFlagEscapeAndDataBytes) {
    const uint8_t alphabet[] = {0x7E, 0x7D, 0x5E, 0x5D, 0x02, 0x08};
    uint32_t seed = 12345;
    auto next = [&] {
        seed = seed * 1103515245u + 12345u;
        return seed >> 16;
    };
    for (int round = 0; round < 20000; ++round) {
        Bytes received;
        if (round % 3 == 0) {
            // a real frame with damage around its flags
            Bytes body = {static_cast<uint8_t>(next()), static_cast<uint8_t>(next())};
            received = Frame(body, next() % 2 == 0);
            for (uint32_t extra = next() % 3; extra > 0; --extra) {
                received.push_back(alphabet[next() % 6]);
            }
            if (next() % 4 == 0) {
                received.erase(received.begin() + static_cast<std::ptrdiff_t>(next() % received.size()));
            }
        } else {
            for (uint32_t n = next() % 9; n > 0; --n) {
                received.push_back(alphabet[next() % 6]);
            }
        }
        for (bool flagExpected : {false, true}) {
            SCOPED_TRACE(testing::PrintToString(received) + (flagExpected ? " with flag" : " without flag"));
            Bytes expected;
            const DecodeStatus want = StepwiseDecode(received, flagExpected, expected);
            DecodeStatus got;
            const Bytes decoded = Decode(received, flagExpected, got);
            ASSERT_EQ(got, want);
            if (want != DecodeStatus::NoEndFlag) {
                ASSERT_EQ(decoded, expected);
            }
        }
    }
}

TEST(StreamingFrames, SplitsOnFlagsAndIgnoresAnUnclosedFrame) {
    const Bytes a = Frame({0x08, 1, 2, 3, 4}, true);
    const Bytes b = Frame({0x1E, 1, 0}, true);
    std::vector<Bytes> frames;
    auto collect = [&](std::span<const uint8_t> f) { frames.emplace_back(f.begin(), f.end()); };
    EXPECT_EQ(ForEachStreamingFrame(S(Concat(Concat(a, b), {0x7E, 0x08, 0x01})), collect), 2u);
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[0], Bytes(a.begin() + 1, a.end() - 1));
    EXPECT_EQ(frames[1], Bytes(b.begin() + 1, b.end() - 1));
    frames.clear();
    EXPECT_EQ(ForEachStreamingFrame(S(Bytes(a.begin() + 1, a.end())), collect), 1u) << "opening flag supplied";
    EXPECT_EQ(ForEachStreamingFrame(S(Bytes{}), collect), 0u);
}

TEST(ReadAheadBuffer, HandsOnOneFrameAtATime) {
    ReadAhead ahead;
    const Bytes input = {0x7E, 0x01, 0x7E, 0x7E, 0x02, 0x03};
    std::copy(input.begin(), input.end(), ahead.FillTarget());
    ahead.Filled(static_cast<uint32_t>(input.size()));
    uint8_t out[16];
    EXPECT_EQ(ahead.Step(out), 3u);   // 7E 01 7E
    EXPECT_EQ(ahead.ReadPosition(), 3u);
    EXPECT_EQ(ahead.Step(out), 3u);   // 7E 02 03: emptied with the frame still open
    EXPECT_TRUE(ahead.Empty());
    EXPECT_EQ(ahead.LastReadCount(), 6u);
    EXPECT_EQ(ahead.Step(out), 0u);
}

}  // namespace
}  // namespace packet_test

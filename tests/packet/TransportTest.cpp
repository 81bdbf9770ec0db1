// The transaction: framing on the wire, polling, attempts, decoding failures
// and the error texts they leave.
#include <gtest/gtest.h>

#include "tests/packet/PacketFixture.h"

namespace packet_test {
namespace {

const char* const kReceive = "Port Cannot Receive Desired Data from the Phone";
const char* const kEsnPrefix = "Cannot Get the ESN Number of the Phone, Since ";

Bytes EsnAnswer(uint32_t esn) {
    return Frame({0x01, static_cast<uint8_t>(esn), static_cast<uint8_t>(esn >> 8), static_cast<uint8_t>(esn >> 16),
                  static_cast<uint8_t>(esn >> 24)},
                 false);
}

Bytes NvAnswer(uint16_t item, uint8_t fill, uint16_t status) {
    Bytes body(133, fill);
    body[0] = 0x26;
    body[1] = static_cast<uint8_t>(item);
    body[2] = static_cast<uint8_t>(item >> 8);
    body[131] = static_cast<uint8_t>(status);
    body[132] = static_cast<uint8_t>(status >> 8);
    return Frame(body, false);
}

// A valid ESN answer of exactly size bytes on the wire.
Bytes EsnAnswerOfSize(size_t size) {
    for (uint8_t last = 0;; ++last) {
        Bytes body = {0x01, 0x44, 0x33, 0x22, 0x11};
        body.resize(size - 3, 0x00);
        body.back() = last;
        const Bytes frame = Frame(body, false);
        if (frame.size() == size) {
            return frame;
        }
    }
}

using Transport = PacketFixture;

TEST_F(Transport, DiagFrameHasNoLeadingFlagAndAnswerIsDecoded) {
    peer->Answer(EsnAnswer(0x8012AB7E));
    uint32_t esn = 0;
    ASSERT_TRUE(packet.GetEsn(esn));
    EXPECT_EQ(esn, 0x8012AB7Eu);
    const uint16_t fcs = ReferenceFcs({0x01});
    EXPECT_EQ(LastWrite(), (Bytes{0x01, static_cast<uint8_t>(fcs), static_cast<uint8_t>(fcs >> 8), 0x7E}));
    EXPECT_EQ(peer->purges, 1);
    EXPECT_EQ(clock.Pauses(), std::vector<uint32_t>{10}) << "stable after one polling pause";
}

TEST_F(Transport, NoAnswerFailsAfterTheTimeoutOfEachAttempt) {
    uint32_t esn = 0;
    EXPECT_FALSE(packet.GetEsn(esn));
    EXPECT_EQ(esn, 0xFFFFFFFFu);
    EXPECT_EQ(packet.ErrorText(), std::string(kEsnPrefix) + kReceive);
    EXPECT_EQ(peer->writes.size(), 1u);
    EXPECT_EQ(clock.Pauses(), std::vector<uint32_t>(31, 10)) << "polls until more than 300 ms have passed";

    clock.ClearPauses();
    uint8_t data[128] = {};
    uint16_t status = 0;
    EXPECT_FALSE(packet.NvItemWrite(22, data, status));
    EXPECT_EQ(status, 0xFFFF);
    EXPECT_EQ(packet.ErrorText().rfind("Cannot write #22 NVItem, Since ", 0), 0u);
    EXPECT_EQ(peer->writes.size(), 4u) << "three attempts";
    EXPECT_EQ(clock.Pauses(), std::vector<uint32_t>(3 * 167, 30)) << "NV items poll every 30 ms";
}

TEST_F(Transport, LateAnswerWithinTheTimeoutCountsAndOneAfterItIsPurged) {
    peer->Answer(EsnAnswer(5), 200);
    uint32_t esn = 0;
    EXPECT_TRUE(packet.GetEsn(esn));
    EXPECT_EQ(esn, 5u);

    peer->Answer(EsnAnswer(6), 350);
    EXPECT_FALSE(packet.GetEsn(esn));
    EXPECT_EQ(packet.ErrorText(), std::string(kEsnPrefix) + kReceive);
    clock.Advance(100);
    peer->Answer(EsnAnswer(7));
    EXPECT_TRUE(packet.GetEsn(esn));
    EXPECT_EQ(esn, 7u) << "the late answer was purged before the next request";
}

TEST_F(Transport, WaitsUntilTheAnswerStopsGrowing) {
    const Bytes answer = EsnAnswer(0x01020304);
    peer->Answer(Bytes(answer.begin(), answer.begin() + 3));
    peer->Send(Bytes(answer.begin() + 3, answer.end()), 5);
    uint32_t esn = 0;
    EXPECT_TRUE(packet.GetEsn(esn));
    EXPECT_EQ(esn, 0x01020304u);
    EXPECT_EQ(clock.Pauses().size(), 2u);
}

TEST_F(Transport, MissingEndFlagAndCorruptedByteFailTheAttemptAndTheTextStaysAfterSuccess) {
    Bytes noFlag = NvAnswer(22, 0x5A, 0);
    noFlag.pop_back();
    for (int i = 0; i < 3; ++i) {
        peer->Answer(noFlag);
    }
    uint8_t data[128];
    std::fill(std::begin(data), std::end(data), 0x11);
    uint16_t status = 0;
    EXPECT_FALSE(packet.NvItemRead(22, data, status));
    EXPECT_EQ(packet.ErrorText(), "cannot read #22 NVItem, since the Received Data is Wrong without End Flag(0x7e)");
    EXPECT_EQ(peer->writes.size(), 3u);
    EXPECT_EQ(status, 0xFFFF);
    EXPECT_EQ(data[0], 0);

    Bytes corrupted = NvAnswer(22, 0x5A, 0);
    corrupted[10] ^= 0x01;
    peer->Answer(corrupted);
    peer->Answer(NvAnswer(22, 0x5A, 0));
    EXPECT_TRUE(packet.NvItemRead(22, data, status));
    EXPECT_EQ(peer->writes.size(), 5u) << "the corrupted answer cost one attempt";
    EXPECT_EQ(data[127], 0x5A);
    EXPECT_EQ(packet.ErrorText(), "the Received Data is Wrong with Wrong CRC Checksum") << "success keeps the text";
}

TEST_F(Transport, AnAnswerEndingInAnEscapedFlagFailsOnItsChecksumNotOnTheEndFlag) {
    // 7D 5E unescapes to 0x7E, which closes the answer; the bytes before it
    // carry no valid FCS.
    uint32_t esn = 0;
    peer->Answer(Bytes{0x01, 0x11, 0x22, 0x33, 0x44, 0x7D, 0x5E});
    EXPECT_FALSE(packet.GetEsn(esn));
    EXPECT_EQ(packet.ErrorText(), std::string(kEsnPrefix) + "the Received Data is Wrong with Wrong CRC Checksum");
}

TEST_F(Transport, DiagErrorResponsesAreNamed) {
    uint32_t esn = 0;
    peer->Answer(Frame({0x13, 0x01}, false));
    EXPECT_FALSE(packet.GetEsn(esn));
    EXPECT_EQ(packet.ErrorText(), std::string(kEsnPrefix) + "Bad command");
    peer->Answer(Frame({0x42}, false));
    EXPECT_FALSE(packet.GetEsn(esn));
    EXPECT_EQ(packet.ErrorText(), std::string(kEsnPrefix) +
                                      "the correct SPC has not yet been entered to unlock service programming");
    peer->Answer(Frame({0x99}, false));
    EXPECT_FALSE(packet.GetEsn(esn));
    EXPECT_EQ(packet.ErrorText(), std::string(kEsnPrefix) + "unknow reason");
    peer->Answer(Concat({0x7E}, EsnAnswer(1)));
    EXPECT_FALSE(packet.GetEsn(esn));
    EXPECT_EQ(packet.ErrorText(), std::string(kEsnPrefix) + "unknow reason") << "compared before decoding";
}

TEST_F(Transport, ACardThatKeepsSendingIsReadAsFarAsCountedAtTheTimeout) {
    // One byte every 5 ms for a second: the count never settles.
    for (uint32_t t = 5; t <= 1000; t += 5) {
        peer->Send({0x01}, t);
    }
    uint32_t esn = 0;
    EXPECT_FALSE(packet.GetEsn(esn));
    EXPECT_EQ(peer->reads, std::vector<uint32_t>{60}) << "the count of the last pass, at 300 ms";
    EXPECT_EQ(packet.ErrorText(), std::string(kEsnPrefix) + "the Received Data is Wrong without End Flag(0x7e)");
}

TEST_F(Transport, ExactlyTheBufferIsReadAndOneByteMoreIsRefused) {
    peer->Answer(EsnAnswerOfSize(2048));
    uint32_t esn = 0;
    EXPECT_TRUE(packet.GetEsn(esn));
    EXPECT_EQ(esn, 0x11223344u);
    EXPECT_EQ(peer->reads, std::vector<uint32_t>{2048});

    peer->reads.clear();
    peer->Answer(EsnAnswerOfSize(2049));
    EXPECT_FALSE(packet.GetEsn(esn));
    EXPECT_EQ(packet.ErrorText(), std::string(kEsnPrefix) + "The Received Data from the Phone is Too Large");
    EXPECT_TRUE(peer->reads.empty()) << "nothing is read";
    peer->Answer(EsnAnswer(9));
    EXPECT_TRUE(packet.GetEsn(esn)) << "the next request purges the surplus";
    EXPECT_EQ(esn, 9u);
}

TEST_F(Transport, WriteFailuresAndAClosedPort) {
    peer->writeLimit = 2;
    uint32_t esn = 0;
    EXPECT_FALSE(packet.GetEsn(esn));
    EXPECT_EQ(packet.ErrorText(), std::string(kEsnPrefix) + "Port Cannot Send desired data to the Phone");
    EXPECT_TRUE(clock.Pauses().empty());

    packet.Close();
    EXPECT_FALSE(packet.GetEsn(esn));
    EXPECT_EQ(packet.ErrorText(), std::string(kEsnPrefix) + "Port Cannot Send desired data to the Phone");
}

TEST_F(Transport, AFrameThatWouldNotFitIsRefusedBeforeAnythingIsWritten) {
    const Bytes flags(1024, 0x7E);
    EXPECT_FALSE(packet.StreamWrite(flags.data(), 0x3000, 1024));
    EXPECT_EQ(packet.ErrorText(), "Write a Block of Data to Memory Failed, Since The Request Data to the Phone is Too Large");
    EXPECT_TRUE(peer->writes.empty());
    EXPECT_TRUE(clock.Pauses().empty());

    const Bytes big(1025, 0x00);
    EXPECT_FALSE(packet.OpenMultiImage(0x0A, big.data(), 1025));
    EXPECT_EQ(packet.ErrorText(), "Cannot open multi-image, Since The Request Data to the Phone is Too Large");
    EXPECT_FALSE(packet.Write32(big.data(), 0x500000, 1025));
    EXPECT_TRUE(peer->writes.empty());
}

}  // namespace
}  // namespace packet_test

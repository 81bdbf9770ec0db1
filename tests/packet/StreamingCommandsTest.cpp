// Streaming download commands and the own receive path of the programmer.
#include <gtest/gtest.h>

#include <string>

#include "tests/packet/PacketFixture.h"

namespace packet_test {
namespace {

using Streaming = PacketFixture;
const char* const kFrameCrc = "the Received Data is Wrong with CRC Checksum";

Bytes BlockWritten(uint32_t address, bool leadingFlag = true) {
    return Frame({0x08, static_cast<uint8_t>(address), static_cast<uint8_t>(address >> 8),
                  static_cast<uint8_t>(address >> 16), static_cast<uint8_t>(address >> 24)},
                 leadingFlag);
}

TEST_F(Streaming, RequestBodiesAreByteExact) {
    peer->AnswerAlways(Frame({0x1C}, true));
    const std::string magic = "QCOM fast download protocol host";
    EXPECT_TRUE(packet.Hello());
    EXPECT_EQ(LastWrite(), Frame(Concat(Concat({0x01}, Bytes(magic.begin(), magic.end())), {0x02, 0x02, 0x03}), true));
    EXPECT_TRUE(packet.Nop());
    EXPECT_EQ(LastWrite(), Frame({0x09, 0x11}, true));
    EXPECT_TRUE(packet.Reset());
    EXPECT_EQ(LastWrite(), Frame({0x0B}, true));
    EXPECT_TRUE(packet.SecurityMode());
    EXPECT_EQ(LastWrite(), Frame({0x17, 0x01}, true));
    EXPECT_TRUE(packet.CloseImage());
    EXPECT_EQ(LastWrite(), Frame({0x15}, true));

    const Bytes header(100, 0x42);
    EXPECT_TRUE(packet.OpenMultiImage(0x09, header.data(), 100));
    EXPECT_EQ(LastWrite(), Frame({0x1B, 0x09}, true));
    EXPECT_TRUE(packet.OpenMultiImage(0x0A, header.data(), 100));
    EXPECT_EQ(LastWrite(), Frame(Concat({0x1B, 0x0A}, header), true));
    EXPECT_TRUE(packet.OpenMultiImage(0x30, header.data(), 100));
    EXPECT_EQ(LastWrite(), Frame({0x1B}, true)) << "an unknown type leaves the type byte out";

    const Bytes four = {0xDE, 0xAD, 0x7E, 0xEF};
    EXPECT_TRUE(packet.StreamWrite(four.data(), 0x00003000, 4));
    EXPECT_EQ(LastWrite(), Frame({0x07, 0x00, 0x30, 0x00, 0x00, 0xDE, 0xAD, 0x7E, 0xEF}, true));

    const size_t before = peer->reads.size();
    EXPECT_TRUE(packet.AnnounceImageSize(135168, 2));
    EXPECT_EQ(LastWrite(), Frame({0x1D, 0x00, 0x60, 0x00, 0x00, 0x00, 0x02, 0x10, 0x00, 0x02}, true));
    EXPECT_TRUE(packet.AnnounceImageSize(0, 1));
    EXPECT_EQ(LastWrite(), Frame({0x1D, 0x00, 0x60, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01}, true));
    EXPECT_EQ(peer->reads.size(), before) << "the announcement reads nothing";
}

TEST_F(Streaming, PartitionTableIsSentAgainWithTheOverrideWhenAsked) {
    const Bytes table = {0xAA, 0x7D, 0x01};
    for (int i = 0; i < 3; ++i) {
        peer->Answer(Frame({0x1A, 0x01}, true));
    }
    peer->Answer(Frame({0x1A, 0x00}, true));
    EXPECT_TRUE(packet.PartitionTable(table.data(), 3));
    EXPECT_TRUE(packet.PartitionOverride());
    ASSERT_EQ(peer->writes.size(), 4u);
    EXPECT_EQ(peer->writes[0], Frame({0x19, 0x00, 0xAA, 0x7D, 0x01}, true));
    EXPECT_EQ(peer->writes[3], Frame({0x19, 0x01, 0xAA, 0x7D, 0x01}, true));

    packet.SetPartitionOverride(false);
    clock.ClearPauses();
    EXPECT_TRUE(packet.PartitionTable(table.data(), 3)) << "unconfirmed but not refused";
    EXPECT_EQ(peer->writes.size(), 7u);
    EXPECT_EQ(clock.Pauses(), std::vector<uint32_t>(3 * 2001, 10));

    packet.SetPartitionOverride(true);
    for (int i = 0; i < 6; ++i) {
        peer->Answer(Frame({0x1A, 0x01}, true));
    }
    EXPECT_FALSE(packet.PartitionTable(table.data(), 3));
    EXPECT_EQ(packet.ErrorText().rfind("Cannot download partition, Since ", 0), 0u);
}

TEST_F(Streaming, APartitionTableTooLargeToFrameIsNotReportedAsSent) {
    // 1024 flag bytes escape to 2048: the frame cannot fit the request buffer.
    const Bytes table(1024, 0x7E);
    EXPECT_FALSE(packet.PartitionTable(table.data(), 1024));
    EXPECT_TRUE(peer->writes.empty());
    EXPECT_EQ(packet.ErrorText(), "Cannot download partition, Since The Request Data to the Phone is Too Large");
}

TEST_F(Streaming, OwnPathReportsTimeErrorsAndSizeLimits) {
    peer->Answer(Frame({0x18}, true));
    EXPECT_TRUE(packet.SecurityMode());
    EXPECT_EQ(packet.ErrorText(), "time is 13(ms)");
    EXPECT_EQ(clock.Pauses(), (std::vector<uint32_t>{8, 5}));

    peer->Answer(Frame({0x0D, 18, 0, 0, 0}, true));
    EXPECT_FALSE(packet.SecurityMode());
    EXPECT_EQ(packet.ErrorText(), "Cannot go into security, Since Out of space");
    const Bytes illegal = Frame({0x0D, 6, 0, 0, 0}, false);
    EXPECT_FALSE(packet.ParseStreamingFrame(illegal.data(), static_cast<uint32_t>(illegal.size() - 1)));
    EXPECT_EQ(packet.ErrorText(), "Illegal reason");

    peer->Answer(Bytes(2049, 0x00));
    EXPECT_FALSE(packet.CloseImage());
    EXPECT_EQ(packet.ErrorText(), "The Received Data from the Phone is Too Large");
    peer->reads.clear();
    Bytes exact = Frame({0x16}, true);
    exact.resize(2048, 0x00);
    peer->Answer(exact);
    EXPECT_TRUE(packet.CloseImage());
    EXPECT_EQ(peer->reads, std::vector<uint32_t>{2048});

    Bytes many;
    for (uint32_t i = 0; i < 70; ++i) {
        many = Concat(many, BlockWritten(0x1000 + i));
    }
    peer->Answer(many);
    EXPECT_TRUE(packet.CloseImage());
    EXPECT_EQ(packet.BlockWrittenCount(), 64) << "the list never holds more than 64";
    EXPECT_EQ(packet.BlockWrittenAddress(63), 0x1000u + 63);
}

TEST_F(Streaming, StreamWriteTriesFiveTimesWithPauses) {
    const Bytes data(8, 0x01);
    EXPECT_FALSE(packet.StreamWrite(data.data(), 0, 8));
    EXPECT_EQ(peer->writes.size(), 5u);
    EXPECT_EQ(packet.ErrorText(),
              "Write a Block of Data to Memory Failed, Since Port Cannot Receive Desired Data from the Phone");
    EXPECT_EQ(PausesOf(1000), 5u);
    EXPECT_EQ(PausesOf(8), 5u * 616) << "each try waits a little over 8 s";
}

TEST_F(Streaming, ReceiveStepsHandOnOneFrameAtATime) {
    peer->Send(Concat(BlockWritten(0x20000), Frame({0x1E, 0x01, 0x07, 0x00, 0x00}, true)));
    EXPECT_TRUE(packet.ReceiveStreamingStep());
    EXPECT_EQ(packet.BlockWrittenCount(), 1);
    EXPECT_EQ(packet.BlockWrittenAddress(0), 0x20000u);
    EXPECT_FALSE(packet.PendingStatusReport());
    EXPECT_TRUE(packet.ReceiveStreamingStep());
    EXPECT_EQ(packet.BlockWrittenCount(), 0);
    ASSERT_TRUE(packet.PendingStatusReport());
    EXPECT_EQ(packet.PendingStatusReport()->stage, 0x01);
    EXPECT_EQ(packet.PendingStatusReport()->outcome, 0x07);
    packet.TakeStatusReport();
    EXPECT_FALSE(packet.PendingStatusReport());
    EXPECT_TRUE(packet.ReceiveStreamingStep());
    EXPECT_EQ(packet.LastStepLength(), 0u) << "nothing left on the port";

    // A frame split across two reads is lost: its second half fails the check.
    const Bytes split = BlockWritten(0x30000);
    peer->Send(Bytes(split.begin(), split.begin() + 4));
    EXPECT_TRUE(packet.ReceiveStreamingStep());
    EXPECT_EQ(packet.BlockWrittenCount(), 0);
    peer->Send(Bytes(split.begin() + 4, split.end()));
    EXPECT_FALSE(packet.ReceiveStreamingStep());
    EXPECT_EQ(packet.ErrorText(), kFrameCrc);

    // A lone opening flag at the end of a read opens the frame of the next.
    peer->Send(Concat(BlockWritten(0x40000), {0x7E}));
    EXPECT_TRUE(packet.ReceiveStreamingStep());
    EXPECT_EQ(packet.BlockWrittenAddress(0), 0x40000u);
    EXPECT_TRUE(packet.ReceiveStreamingStep());
    EXPECT_EQ(packet.LastStepLength(), 1u);
    EXPECT_EQ(packet.BlockWrittenCount(), 0);
    peer->Send(BlockWritten(0x50000, false));
    EXPECT_TRUE(packet.ReceiveStreamingStep());
    EXPECT_EQ(packet.BlockWrittenCount(), 1);
    EXPECT_EQ(packet.BlockWrittenAddress(0), 0x50000u);
}

}  // namespace
}  // namespace packet_test

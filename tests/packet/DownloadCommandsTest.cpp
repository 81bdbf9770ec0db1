// Download-mode commands of the boot downloader.
#include <gtest/gtest.h>

#include "tests/packet/PacketFixture.h"

namespace packet_test {
namespace {

using Download = PacketFixture;
const Bytes kAck = Frame({0x02}, true);

TEST_F(Download, RequestBodiesAreByteExactWithALeadingFlag) {
    peer->AnswerAlways(kAck);
    EXPECT_TRUE(packet.Go());
    EXPECT_EQ(LastWrite(), Frame({0x05, 0x00, 0x50, 0x00, 0x00}, true));
    EXPECT_EQ(LastWrite()[0], 0x7E);

    Bytes data(1017);
    for (size_t i = 0; i < data.size(); ++i) {
        data[i] = static_cast<uint8_t>(i * 3);
    }
    EXPECT_TRUE(packet.Write32(data.data(), 0x00500000 + 0x3F9, 1017));
    EXPECT_EQ(LastWrite(), Frame(Concat({0x0F, 0x00, 0x50, 0x03, 0xF9, 0x03, 0xF9}, data), true));
    EXPECT_TRUE(packet.DoNoop());
    EXPECT_EQ(LastWrite(), Frame({0x06}, true));
    packet::ParamRecord params;
    EXPECT_TRUE(packet.ParamRequest(params));
    EXPECT_EQ(LastWrite(), Frame({0x07}, true));
    EXPECT_EQ(params.responseCode, 0x02);
}

TEST_F(Download, ParametersAreDecodedAndBounded) {
    packet::ParamRecord params;
    // An answer without its leading flag is taken as if it had one.
    peer->Answer(Frame({0x08, 0x05, 0x02, 0x00, 0x04, 0x00, 0x00, 0x11, 0x03, 0x22}, false));
    ASSERT_TRUE(packet.ParamRequest(params));
    EXPECT_EQ(params.protocolVersion, 5);
    EXPECT_EQ(params.minimumVersion, 2);
    EXPECT_EQ(params.maximumWriteSize, 0x400u);
    EXPECT_EQ(params.model, 0x11);
    EXPECT_EQ(params.flashSizeBytes, 0x100000u);
    EXPECT_EQ(params.deviceType, 0x22);
    EXPECT_STREQ(params.modelName, "Unknown");
    EXPECT_STREQ(params.deviceName, "Unknown");

    peer->Answer(Frame({0x08, 0x05, 0x02, 0x00, 0x04, 0x00, 0x00, 0x11, 0x09, 0x23}, true));
    ASSERT_TRUE(packet.ParamRequest(params));
    EXPECT_EQ(params.flashSizeCodeReceived, 9);
    EXPECT_EQ(params.flashSizeCode, 0);
    EXPECT_EQ(params.flashSizeBytes, 0u);
    EXPECT_EQ(params.deviceType, 0);

    EXPECT_FALSE(packet.ParamRequest(params));
    EXPECT_EQ(params.maximumWriteSize, 0u) << "a failure leaves zeros, never the old record";
    EXPECT_EQ(params.modelName[0], 0);
    EXPECT_EQ(peer->writes.size(), 5u);
}

TEST_F(Download, NegativeAcknowledgesNameTheirReason) {
    const Bytes data(16, 0xAB);
    for (int i = 0; i < 3; ++i) {
        peer->Answer(Frame({0x03, 0x00, 0x0A}, true));
    }
    EXPECT_FALSE(packet.Write32(data.data(), 0x500000, 16));
    EXPECT_EQ(packet.ErrorText(), "Write a Block of Data to Memory Failed, Since readback verify did not match");
    EXPECT_EQ(peer->writes.size(), 3u);

    for (int i = 0; i < 3; ++i) {
        peer->Answer(Frame({0x03, 0x01, 0x05}, true));
    }
    EXPECT_FALSE(packet.Write32(data.data(), 0x500000, 16));
    EXPECT_EQ(packet.ErrorText(), "Write a Block of Data to Memory Failed, Since ");

    peer->Answer(Frame({0x06}, true));
    EXPECT_FALSE(packet.DoNoop()) << "only an acknowledge answers a no-operation";
    EXPECT_EQ(packet.ErrorText(), "Cannot Do No Operation, Since Write a Block of Data to Memory Failed, Since ");
}

TEST_F(Download, TouchPortTakesThreeTimeoutsOnASilentPort) {
    EXPECT_FALSE(packet.TouchPort());
    EXPECT_EQ(packet.ErrorText(), "Port Cannot Receive Desired Data from the Phone");
    ASSERT_EQ(peer->writes.size(), 3u);
    const uint16_t fcs = ReferenceFcs({0x0C});
    for (const Bytes& w : peer->writes) {
        EXPECT_EQ(w, (Bytes{0x0C, static_cast<uint8_t>(fcs), static_cast<uint8_t>(fcs >> 8), 0x7E}));
    }
    EXPECT_EQ(clock.Pauses(), std::vector<uint32_t>(3 * 501, 10)) << "about 15 s in all";

    peer->Answer({});
    peer->Answer({0x13, 0x44});   // any byte at all is an answer
    EXPECT_TRUE(packet.TouchPort());
    EXPECT_EQ(peer->writes.size(), 5u);
}

}  // namespace
}  // namespace packet_test

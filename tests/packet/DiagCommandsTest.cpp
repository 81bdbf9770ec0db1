// Diagnostic commands: request bodies, answer decoding and their texts.
#include <gtest/gtest.h>

#include <cstring>

#include "tests/packet/PacketFixture.h"

namespace packet_test {
namespace {

using Diag = PacketFixture;

Bytes VersionAnswer(size_t versionWidth) {
    Bytes body = {0x38};
    const std::string version = "Q7kV1.0.0B05-LONG-VERSION-TEXT";   // 30 characters
    for (size_t i = 0; i < versionWidth; ++i) {
        body.push_back(static_cast<uint8_t>(version[i]));
    }
    const std::string rest = "Dec 01 2026 12:00:00";
    body.insert(body.end(), rest.begin(), rest.end());
    body.push_back(0);
    return Frame(body, false);
}

TEST_F(Diag, RequestBodiesAreByteExact) {
    peer->AnswerAlways(Frame({0x00}, false));   // an error response: every command fails fast
    uint32_t esn;
    uint8_t data[128];
    for (int i = 0; i < 128; ++i) {
        data[i] = static_cast<uint8_t>(i);
    }
    uint16_t status;
    uint8_t mac[6] = {0x00, 0x1A, 0x7E, 0x33, 0x44, 0x55};
    EXPECT_FALSE(packet.NvItemRead(0x1C5, data, status));
    Bytes nv = {0x26, 0xC5, 0x01};
    for (int i = 0; i < 128; ++i) {
        nv.push_back(static_cast<uint8_t>(i));
    }
    nv.push_back(0);
    nv.push_back(0);
    EXPECT_EQ(LastWrite(), Frame(nv, false));
    EXPECT_EQ(LastWrite().size(), 133u + 2 + 2 + 1) << "data bytes 0x7D and 0x7E escaped";
    EXPECT_FALSE(packet.SendSpc());
    EXPECT_EQ(LastWrite(), Frame({0x41, '0', '0', '0', '0', '0', '0'}, false));
    EXPECT_FALSE(packet.EnterOfflineMode());
    EXPECT_EQ(LastWrite(), Frame({0x29, 0x01, 0x00}, false));
    EXPECT_FALSE(packet.SwitchDownloader());
    EXPECT_EQ(LastWrite(), Frame({0x3A}, false));
    EXPECT_EQ(packet.ReadWiFiAddress(mac), -1);
    EXPECT_EQ(LastWrite(), Frame({0x4B, 0xD3, 0, 0, 0, 0, 0, 0, 0, 0, 0}, false));
    EXPECT_EQ(packet.WriteWiFiAddress(mac), -1);
    EXPECT_EQ(LastWrite(), Frame({0x4B, 0xD3, 0x01, 0x00, 0x00, 0x1A, 0x7E, 0x33, 0x44, 0x55, 0x00}, false));
    EXPECT_FALSE(packet.EnableDisableLockFileRW(1));
    EXPECT_EQ(LastWrite(), Frame({0x59, 0x0E, 0x01}, false));
    EXPECT_FALSE(packet.GetEsn(esn));
    EXPECT_EQ(LastWrite(), Frame({0x01}, false));
}

TEST_F(Diag, NvItemStatusIsReportedWithItsText) {
    Bytes answer = {0x26, 0xC5, 0x01};
    answer.insert(answer.end(), 128, 0x77);
    answer.push_back(5);
    answer.push_back(0);
    peer->Answer(Frame(answer, false));
    uint8_t data[128];
    std::memset(data, 0x11, sizeof data);
    uint16_t status = 0;
    EXPECT_FALSE(packet.NvItemRead(453, data, status));
    EXPECT_EQ(status, 5);
    EXPECT_EQ(packet.ErrorText(), "cannot read #453 NV Item, since Variable was not active");
    EXPECT_EQ(data[0] | data[127], 0);

    answer[0] = 0x27;
    answer[131] = 7;
    peer->Answer(Frame(answer, false));
    EXPECT_FALSE(packet.NvItemWrite(453, data, status));
    EXPECT_EQ(status, 7);
    EXPECT_EQ(packet.ErrorText(), "Cannot Write #453 NVItem, Since Parameter is write-protected and thus read only");
    EXPECT_STREQ(packet::CPacket::GetNvStatusText(10), "address is not a valid allocation ");
    EXPECT_STREQ(packet::CPacket::GetNvStatusText(11), "");
}

// A late answer for another item is not this item's: the request goes out
// again, and an item that only ever gets others' answers is not read.
TEST_F(Diag, AnNvAnswerForAnotherItemIsNotTaken) {
    auto nvAnswer = [](uint8_t command, uint16_t item, uint8_t fill) {
        Bytes answer = {command, static_cast<uint8_t>(item), static_cast<uint8_t>(item >> 8)};
        answer.insert(answer.end(), 128, fill);
        answer.push_back(0);
        answer.push_back(0);
        return Frame(answer, false);
    };
    uint8_t data[128] = {};
    uint16_t status = 0;
    peer->Answer(nvAnswer(0x26, 77, 0x77));
    peer->Answer(nvAnswer(0x26, 88, 0x88));
    EXPECT_TRUE(packet.NvItemRead(88, data, status));
    EXPECT_EQ(data[0], 0x88);
    EXPECT_EQ(peer->writes.size(), 2u);

    peer->AnswerAlways(nvAnswer(0x27, 77, 0));
    EXPECT_FALSE(packet.NvItemWrite(88, data, status));
    EXPECT_EQ(packet.ErrorText(), "Cannot write #88 NVItem, Since the answer is for another NV item");
}

TEST_F(Diag, SoftwareVersionWidthFollowsTheRawLength) {
    packet::SoftwareVersionRecord record;
    std::memset(&record, 0xAA, sizeof record);
    peer->Answer(VersionAnswer(30));   // 51 + FCS + flag bytes on the wire
    ASSERT_TRUE(packet.GetSoftwareVersion(record));
    EXPECT_STREQ(record.version, "Q7kV1.0.0B05-LONG-VERSION-TEXT");
    EXPECT_EQ(static_cast<uint8_t>(record.second[0]), 0xAA) << "only the version text is handed over";

    peer->Answer(VersionAnswer(22));
    ASSERT_TRUE(packet.GetSoftwareVersion(record));
    EXPECT_STREQ(record.version, "Q7kV1.0.0B05-LONG-VERS");

    EXPECT_FALSE(packet.GetSoftwareVersion(record));
    EXPECT_EQ(packet.ErrorText(), "Cannot get software version from the mobilePort Cannot Receive Desired Data from the Phone");
    const packet::SoftwareVersionRecord zero{};
    EXPECT_EQ(std::memcmp(&record, &zero, sizeof record), 0);
}

TEST_F(Diag, WiFiAddressAndServiceCodeResults) {
    uint8_t mac[6] = {1, 2, 3, 4, 5, 6};
    peer->Answer(Frame({0x4B, 0xD3, 0, 0, 9, 9, 9, 9, 9, 9, 0x03}, false));
    EXPECT_EQ(packet.ReadWiFiAddress(mac), 0);
    EXPECT_EQ(mac[0], 1) << "a refusal leaves the output";
    peer->Answer(Frame({0x4B, 0xD3, 0, 0, 0xA0, 0xA1, 0xA2, 0xA3, 0xA4, 0xA5, 0x00}, false));
    EXPECT_EQ(packet.ReadWiFiAddress(mac), 1);
    EXPECT_EQ(mac[5], 0xA5);
    peer->Answer(Frame({0x4B, 0x10, 0, 0}, false));
    EXPECT_EQ(packet.WriteWiFiAddress(mac), 0) << "another subsystem's answer is no confirmation";
    EXPECT_EQ(packet.WriteWiFiAddress(mac), -1);

    peer->Answer(Frame({0x41, 0x01}, false));
    EXPECT_TRUE(packet.SendSpc());
    peer->Answer(Frame({0x41, 0x00}, false));
    EXPECT_FALSE(packet.SendSpc());
}

// Found by fuzzing: a short answer passed zeros, or its own check bytes, off
// as the ESN, an NV item's data and status, or the Wi-Fi address.
TEST_F(Diag, AnswersThatEndBeforeTheirFieldsAreRefused) {
    uint32_t esn = 0;
    peer->AnswerAlways(Frame({0x01, 0x11, 0x22}, false));
    EXPECT_FALSE(packet.GetEsn(esn));
    EXPECT_EQ(esn, 0xFFFFFFFFu);
    EXPECT_EQ(packet.ErrorText(), "Cannot Get the ESN Number of the Phone, Since The Received Data from the Phone is Too Short");

    uint8_t data[128];
    std::memset(data, 0xA5, sizeof data);
    uint16_t status = 0;
    Bytes nv = {0x26, 0x4D, 0x00};
    nv.resize(3 + 128, 0x33);   // the data without the status word
    peer->AnswerAlways(Frame(nv, false));
    EXPECT_FALSE(packet.NvItemRead(77, data, status));
    EXPECT_EQ(status, 0xFFFF);
    EXPECT_EQ(data[0], 0) << "nothing of the short answer is kept";
    nv.resize(133, 0);
    peer->AnswerAlways(Frame(nv, false));
    EXPECT_TRUE(packet.NvItemRead(77, data, status));
    EXPECT_EQ(data[127], 0x33);
    peer->AnswerAlways(Frame({0x27, 0x4D, 0x00}, false));
    EXPECT_FALSE(packet.NvItemWrite(77, data, status));

    uint8_t mac[6] = {1, 2, 3, 4, 5, 6};
    peer->AnswerAlways(Frame({0x4B, 0xD3, 0x00, 0x00, 0xAA, 0xBB}, false));
    EXPECT_EQ(packet.ReadWiFiAddress(mac), -1);
    EXPECT_EQ(mac[0], 1) << "the address stays untouched";
    peer->AnswerAlways(Frame({0x4B, 0xD3, 0x00, 0x00, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF, 0x00}, false));
    EXPECT_EQ(packet.ReadWiFiAddress(mac), 1);
    EXPECT_EQ(mac[5], 0xFF);
}

TEST_F(Diag, SwitchToDiagModeAcceptsTheReplyInAnyCase) {
    const std::string reply = "at$qcdmg\r\r\nok\r\n";
    peer->Answer(Bytes(reply.begin(), reply.end()));
    EXPECT_TRUE(packet.SwitchToDiagMode());
    const std::string sent = "AT$QCDMG\r";
    EXPECT_EQ(LastWrite(), Bytes(sent.begin(), sent.end()));
    EXPECT_EQ(clock.Pauses(), std::vector<uint32_t>{100});
    peer->Answer(Bytes(reply.begin(), reply.end() - 1));
    EXPECT_FALSE(packet.SwitchToDiagMode()) << "a short reply";
    peer->Answer(Bytes{'E', 'R', 'R', 'O', 'R', '\r', '\n', 0, 0, 0, 0, 0, 0, 0, 0});
    EXPECT_FALSE(packet.SwitchToDiagMode());
}

TEST_F(Diag, CommunicateWithMobileTriesTheAtSwitchBetweenTwoEsnRequests) {
    const std::string reply = "AT$QCDMG\r\r\nOK\r\n";
    peer->Answer({});
    peer->Answer(Bytes(reply.begin(), reply.end()));
    EXPECT_TRUE(packet.CommunicateWithMobile());
    EXPECT_EQ(peer->writes.size(), 2u) << "the ESN is not read again";

    EXPECT_FALSE(packet.CommunicateWithMobile());
    EXPECT_EQ(peer->writes.size(), 5u);
    EXPECT_EQ(packet.ErrorText(), "Cannot communicate with the mobile, Since Cannot Get the ESN Number of the Phone, "
                                  "Since Port Cannot Receive Desired Data from the Phone");
}

TEST_F(Diag, LockFileAccessSwitchUsesTheFileSystemStatus) {
    peer->Answer(Frame({0x59, 0x0E, 0x06}, false));
    EXPECT_FALSE(packet.EnableDisableLockFileRW(1));
    EXPECT_EQ(packet.ErrorText(), "File does not exist!");
    EXPECT_EQ(peer->writes.size(), 1u);
    peer->Answer(Frame({0x59, 0x0E, 32}, false));
    EXPECT_FALSE(packet.EnableDisableLockFileRW(0));
    EXPECT_EQ(packet.ErrorText(), "Unknown reason!");
    peer->Answer(Frame({0x59, 0x0E, 0x00}, false));
    EXPECT_TRUE(packet.EnableDisableLockFileRW(0));
}

}  // namespace
}  // namespace packet_test

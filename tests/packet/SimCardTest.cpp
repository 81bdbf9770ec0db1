// CPacket against the virtual card: the same requests the upgrade makes, from
// the diagnostic firmware through the switch into the boot downloader. The
// card checks every frame it gets and records what it did not expect.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "packet/Packet.h"
#include "tests/support/TestClocks.h"
#include "sim/frontends/InProcessPort.h"

namespace packet_test {
namespace {

class SimCard : public ::testing::Test {
protected:
    void SetUp() override {
        platform::SetClock(&clock);
        opener.Attach(7, card);
        platform::SetComPortOpener(&opener);
    }
    void TearDown() override {
        packet.Close();
        platform::SetComPortOpener(nullptr);
        platform::SetClock(nullptr);
    }
    platform::RecordingClock clock;
    std::shared_ptr<sim::Card> card = sim::MakeCard();
    sim::InProcessPortOpener opener;
    packet::CPacket packet;
};

TEST_F(SimCard, DiagnosticSessionThenBootDownloader) {
    ASSERT_TRUE(packet.Open(7));
    uint32_t esn = 0;
    ASSERT_TRUE(packet.GetEsn(esn)) << packet.ErrorText();
    EXPECT_EQ(esn, card->Data().esn);
    packet::SoftwareVersionRecord version{};
    ASSERT_TRUE(packet.GetSoftwareVersion(version)) << packet.ErrorText();
    EXPECT_EQ(std::string(version.version).rfind(card->Data().version, 0), 0u) << version.version;
    EXPECT_TRUE(packet.SendSpc()) << "the default service programming code unlocks the card";

    uint8_t item[128] = {};
    uint16_t status = 0xFFFF;
    ASSERT_TRUE(packet.NvItemRead(22, item, status)) << packet.ErrorText();
    EXPECT_EQ(std::memcmp(item, card->Data().nv.at(22).data.data(), 128), 0);
    uint8_t mac[6] = {};
    EXPECT_EQ(packet.ReadWiFiAddress(mac), 1);
    EXPECT_EQ(std::memcmp(mac, card->Data().wifi.data(), 6), 0);

    ASSERT_TRUE(packet.EnableDisableLockFileRW(1)) << packet.ErrorText();
    uint32_t dir = 0;
    ASSERT_TRUE(packet.EfsOpenDir(u"/vek", dir));
    uint32_t entries = 0;
    for (uint32_t seq = 1; seq < 100; ++seq) {
        uint32_t type = 0;
        std::u16string name;
        ASSERT_TRUE(packet.EfsReadDir(dir, seq, type, name));
        if (name.empty()) {
            break;
        }
        ++entries;
    }
    EXPECT_GT(entries, 0u);
    EXPECT_TRUE(packet.EfsCloseDir(dir));
    EXPECT_TRUE(packet.EnableDisableLockFileRW(0));

    ASSERT_TRUE(packet.SwitchDownloader()) << packet.ErrorText();
    packet.Close();
    platform::Sleep(500);   // the card leaves the bus shortly after its answer
    ASSERT_TRUE(packet.Open(7)) << "found again after the card re-enumerates";
    EXPECT_TRUE(packet.TouchPort());
    packet::ParamRecord params;
    ASSERT_TRUE(packet.ParamRequest(params)) << packet.ErrorText();
    EXPECT_EQ(params.responseCode, 0x08);
    EXPECT_TRUE(packet.DoNoop()) << packet.ErrorText();
    const uint8_t block[16] = {0x7E, 0x7D, 1, 2, 3};
    EXPECT_TRUE(packet.Write32(block, 0x00500000, sizeof block)) << packet.ErrorText();

    for (const sim::Violation& v : card->Violations()) {
        ADD_FAILURE() << v.mode << ": " << v.text;
    }
}

TEST_F(SimCard, VersionWidthAtModeStartAndInactiveItemsAsTheCardAnswersThem) {
    const std::string longVersion = "LUM_Q7KV1.0.0B05-0123456789ABC";   // 30 characters
    sim::CardData shortData = sim::DefaultCardData();
    shortData.version = longVersion;
    shortData.longVersionAnswer = false;
    shortData.startInAtMode = true;
    auto shortCard = sim::MakeCard(shortData);
    opener.Attach(8, shortCard);
    sim::CardData longData = sim::DefaultCardData();
    longData.version = longVersion;
    auto longCard = sim::MakeCard(longData);
    opener.Attach(9, longCard);

    packet::SoftwareVersionRecord version{};
    ASSERT_TRUE(packet.Open(9));
    ASSERT_TRUE(packet.GetSoftwareVersion(version)) << packet.ErrorText();
    EXPECT_EQ(std::string(version.version), longVersion) << "an answer above 50 bytes carries 30 characters";
    packet.Close();

    ASSERT_TRUE(packet.Open(8));
    EXPECT_TRUE(packet.CommunicateWithMobile()) << "a port in AT mode is switched to diagnostics";
    ASSERT_TRUE(packet.GetSoftwareVersion(version)) << packet.ErrorText();
    EXPECT_EQ(std::string(version.version), longVersion.substr(0, 22)) << "a short answer carries 22";

    uint16_t inactive = 0;
    bool found = false;
    for (const auto& [number, item] : shortCard->Data().nv) {
        if (item.inactive) {
            inactive = number;
            found = true;
            break;
        }
    }
    ASSERT_TRUE(found);
    uint8_t data[128];
    std::memset(data, 0x33, sizeof data);
    uint16_t status = 0;
    EXPECT_FALSE(packet.NvItemRead(inactive, data, status));
    EXPECT_EQ(status, 5);
    EXPECT_EQ(data[0], 0);
    EXPECT_EQ(packet.ErrorText(),
              "cannot read #" + std::to_string(inactive) + " NV Item, since Variable was not active");

    for (const auto& c : {shortCard, longCard}) {
        for (const sim::Violation& v : c->Violations()) {
            ADD_FAILURE() << v.mode << ": " << v.text;
        }
    }
}

}  // namespace
}  // namespace packet_test

// Every command against a card that never answers: how many requests it
// writes, how long each waits, and the exact text it leaves behind.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "tests/packet/PacketFixture.h"

namespace packet_test {
namespace {

const std::string kReceive = "Port Cannot Receive Desired Data from the Phone";

struct SilentCase {
    const char* name;
    std::function<bool(packet::CPacket&)> run;
    std::string text;
    size_t writes;
    uint32_t pause;           // length of the polling pause
    size_t pausesPerAttempt;  // pauses until the timeout has passed
};

using SilentCard = PacketFixture;

TEST_F(SilentCard, EveryCommandUsesItsAttemptsTimeoutAndText) {
    uint32_t u32 = 0;
    uint16_t status = 0;
    uint8_t data[128] = {};
    uint8_t mac[6] = {};
    packet::SoftwareVersionRecord version{};
    packet::ParamRecord param{};
    const uint8_t block[4] = {1, 2, 3, 4};
    // Polling pauses of 10 ms (30 ms for NV items) until more than the timeout
    // has passed: timeout / pause + 1 of them per attempt.
    const std::vector<SilentCase> cases = {
        {"GetEsn", [&](packet::CPacket& p) { return p.GetEsn(u32); },
         "Cannot Get the ESN Number of the Phone, Since " + kReceive, 1, 10, 31},
        {"GetSoftwareVersion", [&](packet::CPacket& p) { return p.GetSoftwareVersion(version); },
         "Cannot get software version from the mobile" + kReceive, 1, 10, 31},
        {"NvItemRead", [&](packet::CPacket& p) { return p.NvItemRead(22, data, status); },
         "cannot read #22 NVItem, since " + kReceive, 3, 30, 167},
        {"NvItemWrite", [&](packet::CPacket& p) { return p.NvItemWrite(4711, data, status); },
         "Cannot write #4711 NVItem, Since " + kReceive, 3, 30, 167},
        {"SendSpc", [&](packet::CPacket& p) { return p.SendSpc(); }, kReceive, 3, 10, 1501},
        {"EnterOfflineMode", [&](packet::CPacket& p) { return p.EnterOfflineMode(); },
         "Cannot Put the Phone Offline, Since " + kReceive, 1, 10, 501},
        {"SwitchDownloader", [&](packet::CPacket& p) { return p.SwitchDownloader(); },
         "Cannot Switch to Downloader, Since " + kReceive, 1, 10, 501},
        {"ReadWiFiAddress", [&](packet::CPacket& p) { return p.ReadWiFiAddress(mac) != -1; }, kReceive, 1, 10, 501},
        {"WriteWiFiAddress", [&](packet::CPacket& p) { return p.WriteWiFiAddress(mac) != -1; }, kReceive, 1, 10, 501},
        {"DoNoop", [&](packet::CPacket& p) { return p.DoNoop(); }, "Cannot Do No Operation, Since " + kReceive, 1, 10,
         501},
        {"ParamRequest", [&](packet::CPacket& p) { return p.ParamRequest(param); },
         "Cannot Get flash Information, Since " + kReceive, 3, 10, 501},
        {"Go", [&](packet::CPacket& p) { return p.Go(); }, "Cannot begin execution at an address, Since " + kReceive, 1,
         10, 501},
        {"Write32", [&](packet::CPacket& p) { return p.Write32(block, 0x00500000, 4); },
         "Write a Block of Data to Memory Failed, Since " + kReceive, 3, 10, 501},
        {"TouchPort", [&](packet::CPacket& p) { return p.TouchPort(); }, kReceive, 3, 10, 501},
        {"Hello", [&](packet::CPacket& p) { return p.Hello(); }, kReceive, 1, 10, 101},
        {"Nop", [&](packet::CPacket& p) { return p.Nop(); }, kReceive, 1, 10, 501},
        {"Reset", [&](packet::CPacket& p) { return p.Reset(); }, kReceive, 1, 10, 501},
        {"OpenMultiImage", [&](packet::CPacket& p) { return p.OpenMultiImage(0x0A, block, 4); },
         "Cannot open multi-image, Since " + kReceive, 3, 10, 2001},
        {"EnableDisableLockFileRW", [&](packet::CPacket& p) { return p.EnableDisableLockFileRW(1); }, kReceive, 1, 10,
         501},
        {"EfsOpen", [&](packet::CPacket& p) { return p.EfsOpen(u"vek/a", true, u32); }, kReceive, 1, 10, 501},
        {"EfsFstat", [&](packet::CPacket& p) { return p.EfsFstat(3, u32); }, kReceive, 1, 10, 501},
        {"EfsClose", [&](packet::CPacket& p) { return p.EfsClose(3); }, kReceive, 1, 10, 501},
        {"EfsOpenDir", [&](packet::CPacket& p) { return p.EfsOpenDir(u"vek", u32); }, "", 1, 10, 501},
        {"EfsCloseDir", [&](packet::CPacket& p) { return p.EfsCloseDir(1); }, "", 1, 10, 501},
    };
    for (const SilentCase& c : cases) {
        SCOPED_TRACE(c.name);
        peer->writes.clear();
        clock.ClearPauses();
        EXPECT_FALSE(c.run(packet));
        EXPECT_EQ(packet.ErrorText(), c.text);
        EXPECT_EQ(peer->writes.size(), c.writes);
        EXPECT_EQ(clock.Pauses(), std::vector<uint32_t>(c.writes * c.pausesPerAttempt, c.pause));
    }
}

TEST_F(SilentCard, OwnPathCommandsPollEightAndFiveMillisecondsUntilTheirTimeout) {
    // 13 ms per pass; the pass that takes the time beyond the timeout is the last.
    struct OwnCase {
        const char* name;
        std::function<bool(packet::CPacket&)> run;
        std::string text;
        size_t passes;
    };
    const std::vector<OwnCase> cases = {
        {"SecurityMode", [](packet::CPacket& p) { return p.SecurityMode(); },
         "Cannot go into security, Since " + kReceive, 1154},
        {"CloseImage", [](packet::CPacket& p) { return p.CloseImage(); }, kReceive, 770},
    };
    for (const OwnCase& c : cases) {
        SCOPED_TRACE(c.name);
        peer->writes.clear();
        clock.ClearPauses();
        EXPECT_FALSE(c.run(packet));
        EXPECT_EQ(packet.ErrorText(), c.text);
        EXPECT_EQ(peer->writes.size(), 1u);
        std::vector<uint32_t> expected;
        for (size_t i = 0; i < c.passes; ++i) {
            expected.push_back(8);
            expected.push_back(5);
        }
        EXPECT_EQ(clock.Pauses(), expected);
    }
}

}  // namespace
}  // namespace packet_test

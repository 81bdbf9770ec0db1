#include "packet/Serial.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/TestClocks.h"
#include "platform/Trace.h"
#include "tests/support/ScriptedPort.h"

namespace packet_test {
using namespace test_support;
namespace {

struct TraceLine {
    std::u16string file, function, message;
};
std::vector<TraceLine> g_trace;

void CollectTrace(const char16_t* file, int, const char16_t* function, const char16_t* message) {
    g_trace.push_back({file, function, message});
}

std::vector<std::u16string> Messages() {
    std::vector<std::u16string> out;
    for (const TraceLine& line : g_trace) {
        out.push_back(line.message);
    }
    return out;
}

class SerialTest : public ::testing::Test {
protected:
    void SetUp() override {
        g_trace.clear();
        platform::SetTraceSink(&CollectTrace);
        platform::SetClock(&clock);
        platform::SetComPortOpener(&opener);
    }
    void TearDown() override {
        serial.Close();
        platform::SetTraceSink(nullptr);
        platform::SetComPortOpener(nullptr);
        platform::SetClock(nullptr);
    }
    platform::RecordingClock clock;
    std::shared_ptr<ScriptedPeer> peer = std::make_shared<ScriptedPeer>(clock);
    ScriptedOpener opener{peer};
    packet::CSerial serial;
};

TEST_F(SerialTest, OpenConfiguresThePortAndTracesEveryStep) {
    ASSERT_TRUE(serial.Open(7));
    EXPECT_TRUE(serial.IsOpen());
    EXPECT_EQ(opener.names, std::vector<std::u16string>{u"//./COM7"});
    EXPECT_EQ(peer->lineSettings.baudRate, 115200u);
    EXPECT_EQ(peer->lineSettings.byteSize, 8u);
    EXPECT_EQ(peer->lineSettings.parity, 'n');
    EXPECT_EQ(peer->lineSettings.stopBits, 1u);
    EXPECT_EQ(peer->timeouts.readTotalTimeoutConstant, 10u);
    EXPECT_EQ(peer->timeouts.writeTotalTimeoutMultiplier, 2u);
    EXPECT_EQ(peer->timeouts.writeTotalTimeoutConstant, 500u);
    EXPECT_EQ(peer->purges, 1);
    const std::vector<std::u16string> expected = {
        u"Function: CSerial::Open",         u"Function: CSerial::CreateFile",   u"Current Port is 7.......",
        u"Function: CSerial::break",        u"Function: CSerial::CommTimeOuts", u"Function: CSerial::GetCommState",
        u"Function: CSerial::BuildCommDCB", u"Function: CSerial::SetCommState", u"Function: CSerial::PurgeComm"};
    EXPECT_EQ(Messages(), expected);
    EXPECT_EQ(g_trace[0].file, u"..\\packet\\Serial");
    EXPECT_EQ(g_trace[0].function, u"CSerial::Open");

    g_trace.clear();
    EXPECT_TRUE(serial.Open(9)) << "already open: kept as it is";
    EXPECT_TRUE(g_trace.empty());
    EXPECT_EQ(opener.names.size(), 1u);
    EXPECT_EQ(serial.PortNumber(), 7);

    EXPECT_TRUE(serial.Close());
    EXPECT_EQ(Messages(), std::vector<std::u16string>{u"Function: CSerial::PurgeComm close"});
    EXPECT_EQ(g_trace[0].function, u"CSerial::Close");
    g_trace.clear();
    EXPECT_TRUE(serial.Close());
    EXPECT_TRUE(g_trace.empty()) << "closing a closed port logs nothing";
    ASSERT_TRUE(serial.Open(7));
    EXPECT_EQ(Messages().size(), expected.size()) << "a reopen logs the full sequence";
}

TEST_F(SerialTest, ALatePortIsFoundOnALaterTry) {
    opener.failuresLeft = 10;
    ASSERT_TRUE(serial.Open(4));
    size_t failures = 0;
    for (const auto& m : Messages()) {
        failures += m == u"Function: CSerial::CreateFile fail" ? 1 : 0;
    }
    EXPECT_EQ(failures, 10u);
    EXPECT_EQ(clock.Pauses(), std::vector<uint32_t>(10, 100));
    EXPECT_EQ(opener.names.size(), 11u);
}

TEST_F(SerialTest, GivesUpAfterTwentyTriesAndOnAConfigurationFailure) {
    opener.failuresLeft = 25;
    EXPECT_FALSE(serial.Open(4));
    EXPECT_FALSE(serial.IsOpen());
    EXPECT_EQ(opener.names.size(), 20u);
    EXPECT_EQ(clock.Pauses().size(), 19u);

    opener.failuresLeft = 0;
    peer->failSetLine = true;
    EXPECT_FALSE(serial.Open(4));
    EXPECT_FALSE(serial.IsOpen());
    uint8_t byte = 0;
    EXPECT_EQ(serial.Write(&byte, 1), 0u) << "a closed port writes nothing";
    EXPECT_TRUE(peer->writes.empty());
}

TEST_F(SerialTest, AReopenClosesAndOpensTheNumberOfTheLastOpen) {
    ASSERT_TRUE(serial.Open(7));
    ASSERT_TRUE(serial.Reopen());
    EXPECT_TRUE(serial.IsOpen());
    EXPECT_EQ(opener.names, (std::vector<std::u16string>{u"//./COM7", u"//./COM7"}));
    EXPECT_EQ(peer->purges, 3) << "the purge of the close and of each open";

    serial.Close();
    opener.failuresLeft = 25;
    EXPECT_FALSE(serial.Reopen());
    opener.failuresLeft = 0;
    ASSERT_TRUE(serial.Reopen()) << "a failed open keeps the number";
    EXPECT_EQ(opener.names.back(), u"//./COM7");
}

}  // namespace
}  // namespace packet_test

#include <gtest/gtest.h>

#include <climits>
#include <string>

#include "host/kit/HostKit.h"
#include "module/LogRecord.h"
#include "module/ModuleManagerAgent.h"
#include "tests/support/TestClocks.h"
#include "platform/Trace.h"

namespace {

using module::LogRecordBytes;

TEST(LogRecord, BuiltRecordReadsBackByOffset) {
    LogRecordBytes record;
    const platform::LocalTime time{2027, 1, 3, 9, 7, 5};
    module::BuildLogRecord(record, time, u".\\FWUpgradeDataCDMAW326Module.cpp", 321,
                           u"CFWUpgradeDataCDMA7627Module::CheckFile", 4242, u"Execute InitPort function fail");
    EXPECT_EQ(hostkit::LogRecordSize(), sizeof record.bytes);
    const hostkit::DecodedLogRecord decoded = hostkit::DecodeLogRecord(record.bytes);
    EXPECT_EQ(decoded.time, u"09:07:05 2027-01-03");
    EXPECT_EQ(decoded.kind, 61);
    EXPECT_EQ(decoded.file, u"FWUpgradeDataCDMAW326Module.cpp");
    EXPECT_EQ(decoded.line, 321);
    EXPECT_EQ(decoded.function, u"CFWUpgradeDataCDMA7627Module::CheckFile");
    EXPECT_EQ(decoded.threadId, 4242u);
    EXPECT_EQ(decoded.message, u"Execute InitPort function fail");
    EXPECT_EQ(decoded.messageLength, 30);
    EXPECT_EQ(decoded.narrowMessage, "Execute InitPort function fail");
    EXPECT_TRUE(decoded.unusedBytesZero);
    module::ReleaseLogRecord(record);
}

TEST(LogRecord, FileNameIsCutAfterTheLastBackslashOnly) {
    EXPECT_EQ(std::u16string(module::FileNameOf(u"..\\packet\\Serial")), u"Serial");
    EXPECT_EQ(std::u16string(module::FileNameOf(u"Packet.cpp")), u"Packet.cpp");
    EXPECT_EQ(std::u16string(module::FileNameOf(u"src/unix/path.cpp")), u"src/unix/path.cpp");
    EXPECT_EQ(std::u16string(module::FileNameOf(u"ends\\")), u"");
}

TEST(LogRecord, OverlongNamesAreCutAndStayTerminated) {
    const std::u16string longName(400, u'f');
    LogRecordBytes record;
    module::BuildLogRecord(record, platform::LocalTime{INT_MIN, INT_MIN, INT_MIN, INT_MIN, INT_MIN, INT_MIN}, longName.c_str(), 1,
                           longName.c_str(), 1, u"");
    const hostkit::DecodedLogRecord decoded = hostkit::DecodeLogRecord(record.bytes);
    EXPECT_EQ(decoded.file.size(), 259u);
    EXPECT_EQ(decoded.function.size(), 259u);
    EXPECT_EQ(decoded.time.size(), 29u);   // never more than 30 units with the terminator
    EXPECT_TRUE(decoded.unusedBytesZero);
    module::ReleaseLogRecord(record);
}

// Trace calls travel through the agent and the host's manager to the log module.
class TraceDelivery : public ::testing::Test {
protected:
    void SetUp() override {
        platform::SetClock(&clock_);
        module::InstallTraceSink();
    }
    void TearDown() override {
        platform::SetTraceSink(nullptr);
        platform::SetClock(nullptr);
    }
    platform::RecordingClock clock_;
    hostkit::HostSession host_;
};

TEST_F(TraceDelivery, WithoutAManagerTracingFailsQuietly) {
    if (module::GetModuleManagerAgent().ManagerModule() != nullptr) {
        GTEST_SKIP() << "needs a fresh process (ctest runs every test on its own)";
    }
    platform::WriteLog(u".\\x.cpp", 1, u"F", u"nobody listens %d", 1);
    EXPECT_EQ(module::GetModuleManagerAgent().ManagerModule(), nullptr);
    // Registered later, the manager is found on the next trace call.
    ASSERT_TRUE(host_.StartManager());
    platform::WriteLog(u".\\x.cpp", 2, u"F", u"now heard");
    EXPECT_EQ(host_.Log().Messages(), std::vector<std::u16string>{u"now heard"});
}

TEST_F(TraceDelivery, RecordCarriesTheCallAndTheClockTime) {
    ASSERT_TRUE(host_.StartManager());
    FW_TRACE(u"CFWUpgradeDataCDMA7627Module::InitPort", u"Current Port is %d.......", 5);
    platform::WriteLog(u"..\\packet\\Serial", -1, u"CSerial::Open", u"dropped");
    clock_.SetNow({2027, 1, 3, 9, 7, 5}, false);
    platform::WriteLog(u"..\\packet\\Serial", 7, u"CSerial::Open", u"no local time: not sent");

    const auto records = host_.Log().Records();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].message, u"Current Port is 5.......");
    EXPECT_EQ(records[0].file, u"FWUpgradeDataCDMAW326Module.cpp");
    EXPECT_EQ(records[0].function, u"CFWUpgradeDataCDMA7627Module::InitPort");
    EXPECT_EQ(records[0].time, u"09:07:05 2027-01-03");
    EXPECT_EQ(records[0].threadId, platform::CurrentThreadId());
    EXPECT_EQ(records[0].kind, 61);
    EXPECT_GT(records[0].line, 0);
}

}  // namespace

#include <gtest/gtest.h>

#include "host/fwupgrade/FailureReport.h"

namespace fwupgrade {
namespace {

const char* kRun = "CFWUpgradeDataCDMA7627Module::FirmWareUpgrade";

TraceEntry Line(const std::string& function, const std::string& message) {
    TraceEntry entry;
    entry.time = "21:05:31 2026-12-06";
    entry.thread = 7;
    entry.file = "FWUpgradeDataCDMAW326Module.cpp";
    entry.line = 100;
    entry.function = function;
    entry.message = message;
    return entry;
}

TEST(FailureReport, ExitStatusFollowsTheResultCode) {
    EXPECT_EQ(ExitStatusFor(0), kExitOk);
    EXPECT_EQ(ExitStatusFor(-13313), kExitRejected);
    EXPECT_EQ(ExitStatusFor(-13314), kExitFailed);
    EXPECT_EQ(ExitStatusFor(-1), kExitOther);
}

TEST(FailureReport, RejectedPackageNamesTheMissingFile) {
    std::deque<TraceEntry> trace = {
        Line("CFWUpgradeDataCDMA7627Module::Initialize", "Check recovery.img file"),
        Line("CFWUpgradeDataCDMA7627Module::CheckFile", "NULL==pfile !!"),
        Line("CFWUpgradeDataCDMA7627Module::Initialize", "recovery.img file is not Exist !!"),
    };
    const FailureSummary summary = SummarizeFailure(-13313, trace);
    EXPECT_NE(summary.headline.find("recovery.img"), std::string::npos);
    ASSERT_TRUE(summary.reason);
    EXPECT_EQ(summary.reason->message, "recovery.img file is not Exist !!");
}

TEST(FailureReport, FailedRunNamesTheLastStepAndTheCommandSentence) {
    std::deque<TraceEntry> trace = {
        Line(kRun, "Function: WindowsDownloadHS(pPacket, m_DownloadFileList.strBootFilePath, 0x14, DLAPPSBOOT, DLBOOTIMG)"),
        Line(kRun, "Function: WindowsDownloadHS(pPacket, m_DownloadFileList.strSystemPath, 0x15, DLBOOTIMG, DLSYSTEMIMG)"),
        Line("CFWUpgradeDataCDMA7627Module::WindowsDownloadHS", "Execute WaitBlockAck function fail"),
        Line("CFWUpgradeDataCDMA7627Module::WindowsDownloadHS",
             "Write data fail, Since Port Cannot Receive Desired Data from the Phone"),
        Line("CFWUpgradeDataCDMA7627Module::WindowsDownloadHS", "close"),
        Line("CFWUpgradeDataCDMA7627Module::DealError", "Function: DealError"),
        Line("CSerial::Close", "Function: CSerial::PurgeComm close"),
    };
    const FailureSummary summary = SummarizeFailure(-13314, trace);
    EXPECT_EQ(summary.headline, "The upgrade failed while writing system.img.");
    ASSERT_TRUE(summary.step);
    EXPECT_NE(summary.step->message.find("strSystemPath"), std::string::npos);
    ASSERT_TRUE(summary.reason);
    EXPECT_NE(summary.reason->message.find("Since Port Cannot Receive"), std::string::npos);
}

TEST(FailureReport, FailureLineIsUsedWhenNoSentenceWasTraced) {
    std::deque<TraceEntry> trace = {
        Line(kRun, "Function: InitPort"),
        Line("CSerial::Open", "Function: CSerial::CreateFile fail"),
        Line(kRun, "Function: InitPort2"),
        Line("CSerial::Open", "Function: CSerial::CreateFile fail"),
        Line("CFWUpgradeDataCDMA7627Module::DealError", "Function: DealError"),
    };
    const FailureSummary summary = SummarizeFailure(-13314, trace);
    EXPECT_EQ(summary.headline, "The upgrade failed while opening the serial port.");
    ASSERT_TRUE(summary.reason);
    EXPECT_EQ(summary.reason->message, "Function: CSerial::CreateFile fail");
}

TEST(FailureReport, StepsWithoutALineOfTheirOwnAreFoundFromTheProgressLine) {
    std::deque<TraceEntry> trace = {
        Line(kRun, "Function: GoToFlashPrg"),
        Line(kRun, "Function: ShowRatio 10"),
        Line("CFWUpgradeDataCDMA7627Module::DealError", "Function: DealError"),
    };
    EXPECT_EQ(SummarizeFailure(-13314, trace).headline,
              "The upgrade failed while setting the security mode of the flash programmer.");
}

TEST(FailureReport, DescribesTheStepsOfARun) {
    EXPECT_EQ(DescribeStep("Function: SwitchToDownload"), "switching the card to download mode");
    EXPECT_EQ(DescribeStep("Function: EraseSector cache.img"), "erasing cache.img");
    EXPECT_EQ(DescribeStep("Function: DownloadSecondbootloaderheader(pPacket)"),
              "writing the boot loader header (qcsblhd_cfgdata.mbn)");
    EXPECT_EQ(DescribeStep("Function: DownloadSecondbootloader(pPacket)"), "writing the boot loader (qcsbl.mbn)");
    EXPECT_EQ(DescribeStep("Function: WindowsDownloadwithHeaderHS(pPacket, m_DownloadFileList.strAmsshdFilePath, "
                           "m_DownloadFileList.strAmssFilePath, 0x05, DLOEM, DLAMSS)"),
              "writing amss.mbn");
    EXPECT_EQ(DescribeStep("Function: ShowRatio 100"), std::nullopt);
    EXPECT_EQ(DescribeStep("Function: ShowRatio 3"), std::nullopt);
    EXPECT_EQ(DescribeStep("Execute SelectPhoneType function fail"), std::nullopt);
    EXPECT_EQ(DescribeStep("Current Port is 3......."), std::nullopt);
}

TEST(FailureReport, TheStepIsKeptHoweverManyLinesFollowIt) {
    FailureTracker tracker;
    tracker.Add(Line(kRun, "Function: ResetMobileSDP"));
    // A reset that retries for minutes traces hundreds of lines.
    for (int i = 0; i < 5000; ++i) tracker.Add(Line("CPacket::GetSoftwareVersion", "Function: TouchPort fail"));
    tracker.Add(Line("CFWUpgradeDataCDMA7627Module::ResetMobileSDP", "Reset fail, Since the card did not come back"));
    tracker.Add(Line("CFWUpgradeDataCDMA7627Module::DealError", "Function: DealError"));
    tracker.Add(Line(kRun, "Function: SwitchToDownload"));
    const FailureSummary summary = tracker.Summarize(-13314);
    EXPECT_EQ(summary.headline, "The upgrade failed while restarting the card into the new firmware.");
    EXPECT_EQ(tracker.CurrentStep(), "restarting the card into the new firmware");
    ASSERT_TRUE(summary.reason);
    EXPECT_EQ(summary.reason->message, "Reset fail, Since the card did not come back");
}

TEST(FailureReport, UnexpectedCodesAreNamed) {
    EXPECT_NE(SummarizeFailure(-7, {}).headline.find("-7"), std::string::npos);
    EXPECT_EQ(SummarizeFailure(-13314, {}).headline, "The upgrade failed.");
}

}  // namespace
}  // namespace fwupgrade

#include <gtest/gtest.h>

#include "host/fwupgrade/RunFindings.h"

namespace fwupgrade {
namespace {

const char* kRun = "CFWUpgradeDataCDMA7627Module::FirmWareUpgrade";
const char* kPhoneType = "CFWUpgradeDataCDMA7627Module::SelectPhoneType";

TraceEntry Line(const std::string& function, const std::string& message) {
    TraceEntry entry;
    entry.function = function;
    entry.message = message;
    return entry;
}

RunFindings Follow(const std::vector<TraceEntry>& trace) {
    FindingsTracker tracker;
    for (const auto& entry : trace) tracker.Add(entry);
    return tracker.Findings();
}

TEST(RunFindings, TheVersionIsTheLineOfSelectPhoneTypeBetweenItsOwnMarkers) {
    const RunFindings findings = Follow({
        Line(kPhoneType, "Function: pPacket->GetSoftwareVersion"),
        Line(kPhoneType, "LUM_Q7KV1.0.0B05"),
        Line(kPhoneType, "Execute  bIsQ7 = true;"),
        Line(kPhoneType, "Execute  GetSoftwareVersion bResult = true"),
        Line(kRun, "Function: ShowRatio 99"),
    });
    EXPECT_EQ(findings.softwareVersion, "LUM_Q7KV1.0.0B05");
    EXPECT_FALSE(findings.resetTraced);
    EXPECT_TRUE(findings.losses.empty());
}

TEST(RunFindings, EveryLossTheModuleCarriesOnAfterIsNamedOnce) {
    const RunFindings findings = Follow({
        Line(kPhoneType, "Function: pPacket->GetSoftwareVersion"),
        Line(kRun, "Execute SelectPhoneType function fail"),
        Line(kRun, "backup wifi failed,make sure the wifi address be written!"),
        Line(kRun, "The phone software do not support reading wifi address command"),
        Line(kRun, "function EnumAllAbsoluteFilePathInEfsDir fail"),
        Line(kRun, "Function: ResetMobileSDP"),
        Line(kRun, "Execute WriteWiFiAddress2 function fail "),
        Line(kRun, "Execute RestoreLockFile function fail "),
        Line(kRun, "Execute RestoreLockFile function fail "),
        // The same words from another function are not the run's verdict.
        Line("CPacket::WriteWiFiAddress", "Execute WriteWiFiAddress2 function fail "),
    });
    EXPECT_TRUE(findings.softwareVersion.empty());
    EXPECT_TRUE(findings.resetTraced);
    ASSERT_EQ(findings.losses.size(), 6u);
    EXPECT_NE(findings.losses[0].find("treated as not a Q7k card"), std::string::npos);
    EXPECT_NE(findings.losses[1].find("Wi-Fi address could not be read"), std::string::npos);
    EXPECT_NE(findings.losses[2].find("cannot report its Wi-Fi address"), std::string::npos);
    EXPECT_NE(findings.losses[3].find("lock files could not be listed"), std::string::npos);
    EXPECT_NE(findings.losses[4].find("Wi-Fi address could not be written back"), std::string::npos);
    EXPECT_NE(findings.losses[5].find("lock files could not be restored"), std::string::npos);
}

}  // namespace
}  // namespace fwupgrade

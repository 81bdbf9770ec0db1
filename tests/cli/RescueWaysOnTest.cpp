// The ways on after a refused rescue: one per kept backup but the refused
// one, then the rescue without data unless that was refused; and the card's
// ESN from the last history entry on its device.
#include <gtest/gtest.h>

#include "host/fwupgrade/card/RescueWaysOn.h"

namespace fwupgrade {
namespace {

const std::string kRescue = "fwupgrade rescue --device /dev/ttyUSB0 --package /pkg";

TEST(RescueWaysOn, NamesEveryOtherKeptBackupThenTheRescueWithoutData) {
    const std::vector<std::string> ways =
        WaysOn({kRescue, "/data/b/8012A5C3/2", true}, {"/data/b/8012A5C3/3", "/data/b/8012A5C3/2/", "/a b"});
    ASSERT_EQ(ways.size(), 3u);
    EXPECT_EQ(ways[0], kRescue + " --from /data/b/8012A5C3/3");
    EXPECT_EQ(ways[1], kRescue + " --from '/a b'");
    EXPECT_EQ(ways[2], kRescue + " --without-data");
}

TEST(RescueWaysOn, NeverOffersTheRefusedCommandAgain) {
    EXPECT_TRUE(WaysOn({kRescue, "", false}, {}).empty());
    const std::vector<std::string> ways = WaysOn({kRescue, "", true}, {});
    ASSERT_EQ(ways.size(), 1u);
    EXPECT_NE(ways[0], kRescue);
}

TEST(RescueWaysOn, TakesTheEsnOfTheLastRunOnTheSameDeviceOrUsbPort) {
    std::vector<nlohmann::json> history = {
        {{"device", "/dev/ttyUSB0"}, {"esn", "8012A5C3"}},
        {{"device", "/dev/ttyUSB1"}, {"esn", "11223344"}},
        {{"device", "/dev/ttyUSB0"}, {"esn", ""}},           // a run that could not read it
        {{"device", "/dev/ttyUSB0"}, {"esn", "00000000"}},   // an older run's placeholder
        {{"device", "/dev/ttyUSB0"}, {"esn", "xyz"}},
    };
    EXPECT_EQ(LastEsnOnDevice(history, "/dev/ttyUSB0", ""), 0x8012A5C3u);
    EXPECT_EQ(LastEsnOnDevice(history, "/dev/ttyUSB1", ""), 0x11223344u);
    EXPECT_FALSE(LastEsnOnDevice(history, "/dev/ttyUSB2", "").has_value());
    history.push_back({{"device", "USB port 1-1.2"}, {"device_by_id", "/dev/serial/by-id/card"}, {"esn", "AABBCCDD"}});
    EXPECT_EQ(LastEsnOnDevice(history, "/dev/ttyUSB3", "/dev/serial/by-id/card"), 0xAABBCCDDu);
}

}  // namespace
}  // namespace fwupgrade

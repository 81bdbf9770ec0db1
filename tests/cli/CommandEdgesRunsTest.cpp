// The command line's answers at its edges: a device that is no serial port,
// the interface a hint names on a card with several, and a backup of a card
// a run left in its boot downloader or flash programmer.
#include <gtest/gtest.h>

#include <csignal>

#include <nlohmann/json.hpp>

#include "CliFixture.h"

namespace fwupgrade {
namespace {

TEST_F(FwupgradeCli, ADeviceThatIsNoSerialPortIsRefusedWithItsPathAndExit5) {
    const std::string plainFile = temp_ / "notes.txt";
    std::ofstream(plainFile) << "not a card\n";
    const std::string folder = temp_ / "folder";
    fs::create_directories(folder);
    for (const std::string& device : {std::string("/dev/null"), plainFile, folder}) {
        const std::vector<std::vector<std::string>> commands = {
            {"upgrade", "--device", device, "--package", Package()},
            {"backup", "--device", device},
            {"restore", "--device", device},
            {"rescue", "--device", device, "--package", Package()},
        };
        for (const auto& command : commands) {
            const ProcessOutcome run = Fwupgrade(command);
            const std::string said = run.out + run.err;
            EXPECT_EQ(run.exitStatus, 5) << command[0] << " " << device << ": " << said;
            EXPECT_NE(said.find(device + " is "), std::string::npos) << said;
            EXPECT_NE(said.find("not a serial port"), std::string::npos) << said;
            EXPECT_EQ(said.find("serial port failed"), std::string::npos) << said;
            EXPECT_EQ(said.find("while opening"), std::string::npos) << "the module was loaded: " << said;
        }
    }
}

// Port 1-1.1 as the card shows it in its firmware: a cdc-acm modem interface
// (:1.0) beside the usb-serial one it is driven through (:1.1).
void PlugInTwoInterfaceCard(const fs::path& sys, const fs::path& dev) {
    const fs::path device = sys / "bus/usb/devices/1-1.1";
    fs::create_directories(device);
    std::ofstream(device / "idVendor") << "2e1a\n";
    std::ofstream(device / "idProduct") << "0081\n";
    fs::create_directories(sys / "bus/usb/devices/1-1.1:1.0/tty/ttyACM0");
    std::ofstream(sys / "bus/usb/devices/1-1.1:1.0/bInterfaceNumber") << "00\n";
    fs::create_directories(sys / "bus/usb/devices/1-1.1:1.1/ttyUSB2");
    std::ofstream(sys / "bus/usb/devices/1-1.1:1.1/bInterfaceNumber") << "01\n";
    fs::create_directories(dev);
    std::ofstream(dev / "ttyACM0") << "";
    std::ofstream(dev / "ttyUSB2") << "";
}

TEST_F(FwupgradeCli, TheHintForAPortWithSeveralInterfacesNamesTheOneDetectPicks) {
    PlugInTwoInterfaceCard(temp_ / "sys", temp_ / "dev");
    const ProcessOutcome detect = Fwupgrade({"detect"});
    ASSERT_NE(detect.out.find("--usb-port 1-1.1:1.1"), std::string::npos) << detect.out;
    for (const std::string command : {"backup", "restore", "upgrade", "rescue"}) {
        std::vector<std::string> args = {command, "--usb-port", "1-1.1"};
        if (command == "upgrade" || command == "rescue") args.insert(args.end(), {"--package", Package()});
        const ProcessOutcome run = Fwupgrade(args);
        EXPECT_EQ(run.exitStatus, 2) << command << ": " << run.out << run.err;
        EXPECT_NE(run.out.find("--usb-port 1-1.1:1.1 "), std::string::npos) << command << ": " << run.out;
        EXPECT_EQ(run.out.find("--usb-port 1-1.1:1.0"), std::string::npos) << command << ": " << run.out;
    }
}

struct LeftIn {
    int percent;         // progress at which the upgrade is killed
    const char* state;   // where that leaves the card
};

class BackupOfACardLeftBehind : public FwupgradeCli, public ::testing::WithParamInterface<LeftIn> {};

TEST_P(BackupOfACardLeftBehind, SaysWhereTheCardIsAndPrintsTheRescueCommand) {
    CardProcess card;
    const std::string link = StartCard(card, "card0");
    auto upgrade = Start({"upgrade", "--device", link, "--package", Package()});
    ASSERT_TRUE(upgrade->WaitForLine(ProgressAtLeast(GetParam().percent), kTimeout)) << upgrade->Out();
    upgrade->Signal(SIGKILL);
    upgrade->Wait(kTimeout);

    const ProcessOutcome backup = Fwupgrade({"backup", "--device", link});
    EXPECT_EQ(backup.exitStatus, 4) << backup.out << backup.err;
    EXPECT_NE(backup.out.find(std::string("The card is ") + GetParam().state + ", not in its firmware"),
              std::string::npos)
        << backup.out;
    EXPECT_NE(backup.out.find("  To rescue the card run: fwupgrade rescue --device " + link + " --package DIR"),
              std::string::npos)
        << backup.out;
    const nlohmann::json entries = nlohmann::json::parse(Fwupgrade({"history", "--json"}).out);
    ASSERT_EQ(entries.size(), 2u) << "the backup, and the killed run as it was before it touched the card";
    EXPECT_EQ(entries[0]["exit"], 4);
    EXPECT_EQ(entries[1]["result"], "unfinished");
}

// 7%: the card has just entered its boot downloader; 35%: system.img streams.
INSTANTIATE_TEST_SUITE_P(FwupgradeCli, BackupOfACardLeftBehind,
                         ::testing::Values(LeftIn{7, "in its boot downloader"}, LeftIn{35, "in the flash programmer"}),
                         [](const ::testing::TestParamInfo<LeftIn>& info) {
                             return info.param.percent == 7 ? std::string("InTheBootDownloader")
                                                            : std::string("InTheFlashProgrammer");
                         });

}  // namespace
}  // namespace fwupgrade

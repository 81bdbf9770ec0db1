// Cards followed on their USB ports: cardsim plays the kernel in a stand-in
// sysfs and /dev, giving the card a new USB device at each restart, with the
// product of its mode and a tty number it did not have before; fwupgrade
// pins the card to its port and the module finds it there at each open.
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <iterator>
#include <fstream>
#include <set>
#include <sstream>

#include <nlohmann/json.hpp>

#include "CliFixture.h"

namespace fwupgrade {
namespace {

// "COM1 is /…/dev/ttyUSB3 (USB port …)" lines of a trace log, the ttys in the
// order they were first found, repeats of the same tty folded.
std::vector<std::string> TtysOpened(const std::string& logFile) {
    std::ifstream in(logFile);
    std::vector<std::string> ttys;
    for (std::string line; std::getline(in, line);) {
        const size_t at = line.find("COM1 is ");
        if (at == std::string::npos) continue;
        const size_t from = at + 8;
        const std::string tty = line.substr(from, line.find(' ', from) - from);
        if (ttys.empty() || ttys.back() != tty) ttys.push_back(tty);
    }
    return ttys;
}

// cardsim's own account of the nodes it appeared as, in order.
std::vector<std::string> CardAppearances(const std::string& cardLog) {
    std::ifstream in(cardLog);
    std::vector<std::string> nodes;
    for (std::string line; std::getline(in, line);) {
        const size_t at = line.find(" as ");
        if (line.rfind("cardsim: on the bus", 0) == 0 && at != std::string::npos) nodes.push_back(line.substr(at + 4));
    }
    return nodes;
}

class UsbPortRuns : public FwupgradeCli {
protected:
    // The stand-in trees every fwupgrade started here reads.
    std::string Sys() const { return temp_ / "sys"; }
    std::string Dev() const { return temp_ / "dev"; }

    // A card on `port` whose tty takes the given numbers at its appearances.
    void StartUsbCard(CardProcess& card, const std::string& name, const std::string& port, const std::string& numbers) {
        StartCard(card, name,
                  {"--usb-sysfs", Sys(), "--usb-devfs", Dev(), "--usb-port", port, "--usb-tty-numbers", numbers});
    }
};

TEST_F(UsbPortRuns, ACardWithANewTtyAtEachRestartIsFollowedAndFlashed) {
    CardProcess card;
    StartUsbCard(card, "card0", "1-1.2", "3,0,5,1");
    const ProcessOutcome run =
        Fwupgrade({"upgrade", "--device", Dev() + "/ttyUSB3", "--package", Package(), "--log", "trace.log"});
    ASSERT_EQ(run.exitStatus, 0) << run.out << run.err;
    EXPECT_NE(run.out.find("Following the card on USB port 1-1.2, interface 1 (now " + Dev() + "/ttyUSB3)"),
              std::string::npos)
        << run.out;
    // Firmware, boot downloader, programmer, new firmware: four ttys, each
    // found by the open that followed the restart.
    const std::vector<std::string> expected = {Dev() + "/ttyUSB3", Dev() + "/ttyUSB0", Dev() + "/ttyUSB5",
                                               Dev() + "/ttyUSB1"};
    EXPECT_EQ(TtysOpened(RunFolder() + "/trace.log"), expected);
    EXPECT_EQ(CardAppearances(temp_ / "card0.log"), expected);
    ExpectFlashed(card, "card0");
}

TEST_F(UsbPortRuns, TwoPinnedCardsWhoseTtyNumbersSwapAreEachFlashedThroughTheirOwn) {
    CardProcess cards[2];
    // Each card comes back under the number the other one had.
    StartUsbCard(cards[0], "card0", "1-1.2", "0,11,1,10");
    StartUsbCard(cards[1], "card1", "1-1.3", "1,10,0,11");
    const ProcessOutcome run = Fwupgrade({"upgrade", "--device", Dev() + "/ttyUSB0", "--usb-port", "1-1.3:1.1",
                                          "--package", Package(), "--work-dir", "cards"});
    ASSERT_EQ(run.exitStatus, 0) << run.out << run.err;
    EXPECT_NE(run.out.find("2 of 2 card(s) flashed successfully."), std::string::npos) << run.out;
    std::set<std::string> used[2];
    for (int i = 0; i < 2; ++i) {
        const std::string name = "card" + std::to_string(i);
        // Each worker opened exactly the ttys its own card appeared as.
        const auto appeared = CardAppearances(temp_ / (name + ".log"));
        EXPECT_EQ(appeared.size(), 4u) << name;
        EXPECT_EQ(TtysOpened(RunFolder() + "/cards/" + name + "/fwupgrade.log"), appeared) << name;
        used[i].insert(appeared.begin(), appeared.end());
        ExpectFlashed(cards[i], name);
    }
    // Between them the two cards went by the same tty names.
    std::vector<std::string> both;
    std::set_intersection(used[0].begin(), used[0].end(), used[1].begin(), used[1].end(), std::back_inserter(both));
    EXPECT_FALSE(both.empty());
}

TEST_F(UsbPortRuns, APortThatDoesNotNameOneCardPortIsRefusedBeforeAnythingStarts) {
    CardProcess card;
    StartUsbCard(card, "card0", "1-1.2", "4");
    // In its firmware the card shows a modem interface beside its own.
    ProcessOutcome run = Fwupgrade({"backup", "--usb-port", "1-1.2"});
    EXPECT_EQ(run.exitStatus, 2) << run.out << run.err;
    EXPECT_NE(run.out.find("USB port 1-1.2 has 2 serial interfaces: 1-1.2:1.0 (ttyACM0), 1-1.2:1.1 (ttyUSB4)"),
              std::string::npos)
        << run.out;
    run = Fwupgrade({"upgrade", "--usb-port", "1-9", "--package", Package()});
    EXPECT_EQ(run.exitStatus, 2) << run.out << run.err;
    EXPECT_NE(run.out.find("Nothing with a serial port is plugged in at USB port 1-9"), std::string::npos) << run.out;
    run = Fwupgrade({"rescue", "--usb-port", "usb1", "--package", Package()});
    EXPECT_EQ(run.exitStatus, 2) << run.out << run.err;
    EXPECT_NE(run.out.find("'usb1' is not a USB port"), std::string::npos) << run.out;
    // Named by its interface the card is backed up, and detect shows that name.
    run = Fwupgrade({"backup", "--usb-port", "1-1.2:1.1"});
    EXPECT_EQ(run.exitStatus, 0) << run.out << run.err;
    run = Fwupgrade({"detect"});
    EXPECT_NE(run.out.find(Dev() + "/ttyUSB4  2e1a:0081  supported  --usb-port 1-1.2:1.1  driver option  this user can "
                                   "open it\n"),
              std::string::npos)
        << run.out;
}

TEST_F(UsbPortRuns, AnInterruptedRunNamesTheCardByItsPortAndTheRescueFindsItThere) {
    CardProcess card;
    StartUsbCard(card, "card0", "1-1.2", "2,6,7,8");
    auto run = Start({"upgrade", "--device", Dev() + "/ttyUSB2", "--package", Package()});
    ASSERT_TRUE(run->WaitForLine(ProgressAtLeast(7), kTimeout)) << run->Out();
    run->Signal(SIGTERM);
    ASSERT_TRUE(run->WaitForLine(Contains("the run will finish"), kTimeout)) << run->Out();
    run->Signal(SIGINT);
    const ProcessOutcome interrupted = run->Wait(kTimeout);
    EXPECT_EQ(interrupted.exitStatus, 130) << interrupted.out << interrupted.err;
    // The by-id name and tty it had are gone with the restart: the port stays.
    EXPECT_NE(interrupted.out.find("  To rescue the card run: fwupgrade rescue --usb-port 1-1.2:1.1 --package " +
                                   Package() + "\n"),
              std::string::npos)
        << interrupted.out;
    const ProcessOutcome rescued = Fwupgrade({"rescue", "--usb-port", "1-1.2:1.1", "--package", Package()});
    EXPECT_EQ(rescued.exitStatus, 0) << rescued.out << rescued.err;
    ExpectFlashed(card, "card0");
}

TEST_F(UsbPortRuns, ARescuePinnedToTheProgrammersInterfaceFollowsTheCardIntoItsFirmware) {
    CardProcess card;
    StartUsbCard(card, "card0", "1-1.2", "2,6,7,8");
    auto run = Start({"upgrade", "--usb-port", "1-1.2:1.1", "--package", Package()});
    ASSERT_TRUE(run->WaitForLine(ProgressAtLeast(12), kTimeout)) << run->Out();
    run->Signal(SIGTERM);
    ASSERT_TRUE(run->WaitForLine(Contains("the run will finish"), kTimeout)) << run->Out();
    run->Signal(SIGINT);
    const ProcessOutcome interrupted = run->Wait(kTimeout);
    ASSERT_EQ(interrupted.exitStatus, 130) << interrupted.out << interrupted.err;
    // In its flash programmer the card shows interface 0 alone, as detect names it.
    const ProcessOutcome detect = Fwupgrade({"detect"});
    ASSERT_NE(detect.out.find("--usb-port 1-1.2:1.0"), std::string::npos) << detect.out;
    // Back in its firmware interface 0 is the modem: the rescue goes on
    // through the interface the card is driven through.
    const ProcessOutcome rescued =
        Fwupgrade({"rescue", "--usb-port", "1-1.2:1.0", "--package", Package(), "--log", "rescue.log"});
    EXPECT_EQ(rescued.exitStatus, 0) << rescued.out << rescued.err;
    const std::vector<std::string> ttys = TtysOpened(RunFolder() + "/rescue.log");
    ASSERT_FALSE(ttys.empty());
    EXPECT_EQ(ttys.back().rfind(Dev() + "/ttyUSB", 0), 0u) << ttys.back();
    // (The rescue's look at the card's state sends the programmer a request
    // of the boot downloader, which it counts as a violation: not checked.)
    sim::CardData data;
    bool newFirmware = false;
    size_t violations = 0;
    std::string error;
    ASSERT_TRUE(card.Stop(data, newFirmware, violations, error)) << error;
    EXPECT_TRUE(newFirmware);
    const sim::FlashCheck check = sim::CheckFlashAgainstPackage(data, Package(), newFirmware);
    EXPECT_TRUE(check.ok) << (check.problems.empty() ? "" : check.problems.front());
}

TEST_F(UsbPortRuns, DetectListsEachCardOnceAndACommandWithoutACardTakesTheOnlyOne) {
    ProcessOutcome run = Fwupgrade({"backup"});
    EXPECT_EQ(run.exitStatus, 5) << run.out << run.err;
    EXPECT_NE(run.err.find("No card found: no USB serial device of vendor 2e1a is plugged in"), std::string::npos)
        << run.err;

    CardProcess first, second;
    StartUsbCard(first, "card0", "1-1.2", "0");
    run = Fwupgrade({"backup"});
    EXPECT_EQ(run.exitStatus, 0) << run.out << run.err;
    EXPECT_NE(run.out.find("Using the only card plugged in: " + Dev() + "/ttyUSB0 (USB port 1-1.2:1.1)."),
              std::string::npos)
        << run.out;

    StartUsbCard(second, "card1", "3-2", "1");
    run = Fwupgrade({"detect", "--json"});
    ASSERT_EQ(run.exitStatus, 0) << run.out << run.err;
    const auto listed = nlohmann::json::parse(run.out)["cards"];
    ASSERT_EQ(listed.size(), 2u) << run.out;
    for (const auto& card : listed) {
        EXPECT_EQ(card["interfaces"].size(), 2u) << card;
        EXPECT_EQ(card["identity"], "2e1a:0081");
        EXPECT_TRUE(card["supported"].get<bool>());
        EXPECT_EQ(card["driver"], "option");
    }
    EXPECT_EQ(listed[0]["device"], Dev() + "/ttyUSB0");
    EXPECT_EQ(listed[0]["usb_port"], "1-1.2:1.1");
    EXPECT_EQ(listed[1]["device"], Dev() + "/ttyUSB1");
    EXPECT_EQ(listed[1]["usb_port"], "3-2:1.1");

    run = Fwupgrade({"upgrade", "--package", Package()});
    EXPECT_EQ(run.exitStatus, 2) << run.out << run.err;
    EXPECT_NE(run.err.find("2 cards are plugged in; name one with --usb-port (or --device):\n  " + Dev() +
                           "/ttyUSB0  (USB port 1-1.2:1.1, 2e1a:0081)\n  " + Dev() + "/ttyUSB1  (USB port 3-2:1.1, 2e1a:0081)"),
              std::string::npos)
        << run.err;
}

}  // namespace
}  // namespace fwupgrade

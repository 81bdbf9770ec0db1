// The built fwupgrade run as a user runs it, against cardsim on
// pseudo-terminals: its output and exit status, the files it leaves and the
// card's flash afterwards. The plug-in runs on a faster clock and the cards
// shorten their delays to match. The factor stays modest: the module's
// answer timeouts shrink with it, and a loaded machine must still meet them.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <set>

#include <nlohmann/json.hpp>

#include "CliFixture.h"
#include "host/fwupgrade/run/RunLock.h"

namespace fwupgrade {
namespace {

TEST_F(FwupgradeCli, FlashesOneCardInPlaceAndSaysWhereTheBackupsAre) {
    CardProcess card;
    const std::string link = StartCard(card, "card0");
    const ProcessOutcome run = Fwupgrade({"upgrade", "--device", link, "--package", Package(), "--log", "trace.log"});
    ASSERT_EQ(run.exitStatus, 0) << run.out << run.err;

    const std::vector<int> progress = Percentages(run.out);
    ASSERT_FALSE(progress.empty()) << run.out;
    EXPECT_EQ(progress.front(), 0);
    EXPECT_EQ(progress.back(), 100);
    for (size_t i = 1; i < progress.size(); ++i) EXPECT_LT(progress[i - 1], progress[i]);

    // channel.nvm in the package folder, the lock backup in the current folder.
    EXPECT_TRUE(fs::exists(Package() + "/channel.nvm"));
    EXPECT_TRUE(fs::exists(RunFolder() + "/VEKLock_1"));
    EXPECT_NE(run.out.find("NV backup:   " + Package() + "/channel.nvm\n"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("lock backup: " + RunFolder() + "/VEKLock_1\n"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("kept backup: " + (temp_ / "data") + "/fwupgrade/backups/8012A5C3/"), std::string::npos)
        << run.out;
    EXPECT_NE(run.out.find("flashed successfully"), std::string::npos);

    // The log holds one text line per trace record.
    std::ifstream log(RunFolder() + "/trace.log");
    std::string first;
    ASSERT_TRUE(std::getline(log, first));
    EXPECT_NE(first.find("CFWUpgradeDataCDMA7627Module::FirmWareUpgrade: *****************FWUpgrade_DataCard"),
              std::string::npos)
        << first;
    ExpectFlashed(card, "card0");
}

TEST_F(FwupgradeCli, TheFlashCheckTellsAnUntouchedCardFromAFlashedOne) {
    CardProcess card;
    StartCard(card, "card0");
    sim::CardData data;
    bool newFirmware = true;
    size_t violations = 1;
    std::string error;
    ASSERT_TRUE(card.Stop(data, newFirmware, violations, error)) << error;
    EXPECT_FALSE(newFirmware);
    EXPECT_EQ(violations, 0u);
    EXPECT_FALSE(data.partitions.empty()) << "the card's old firmware is read back";
    const sim::FlashCheck check = sim::CheckFlashAgainstPackage(data, Package(), false);
    EXPECT_FALSE(check.ok);
    EXPECT_FALSE(check.problems.empty());
}

TEST_F(FwupgradeCli, ARejectedPackageExitsWith3AndNamesTheMissingFile) {
    fs::remove(Package() + "/recovery.img");
    const ProcessOutcome run = Fwupgrade({"upgrade", "--port", "9", "--package", Package()});
    EXPECT_EQ(run.exitStatus, 3) << run.out << run.err;
    const auto lines = Lines(run.out);
    ASSERT_GE(lines.size(), 2u);
    EXPECT_NE(run.out.find("The package was rejected: recovery.img is missing"), std::string::npos) << run.out;
    // The package is checked before the module is loaded: no progress, and
    // the last line is the reason.
    EXPECT_TRUE(Percentages(run.out).empty()) << run.out;
    EXPECT_EQ(lines.back(), "  reason: recovery.img is missing") << run.out;
    EXPECT_FALSE(fs::exists(Package() + "/channel.nvm"));
}

TEST_F(FwupgradeCli, APackageThatNoLongerMatchesItsSha256sumsIsRefusedBeforeTheCardIsTouched) {
    CardProcess card;
    const std::string transcript = temp_ / "card0-transcript.txt";
    const std::string link = StartCard(card, "card0", {"--transcript", transcript});
    ProcessOutcome run = Fwupgrade({"package-sums", Package()});
    ASSERT_EQ(run.exitStatus, 0) << run.out << run.err;
    run = Fwupgrade({"check", "--package", Package()});
    EXPECT_EQ(run.exitStatus, 0) << run.out;
    EXPECT_NE(run.out.find("Every file matches SHA256SUMS."), std::string::npos) << run.out;
    {
        std::fstream image(Package() + "/system.img", std::ios::in | std::ios::out | std::ios::binary);
        image.seekp(1000);
        image.put('\x5A');
    }
    run = Fwupgrade({"check", "--package", Package(), "--json"});
    EXPECT_EQ(run.exitStatus, 3) << run.out;
    const auto report = nlohmann::json::parse(run.out);
    EXPECT_EQ(report["sha256sums"], "refused");
    EXPECT_EQ(report["files"].size(), 16u);

    run = Fwupgrade({"upgrade", "--device", link, "--package", Package()});
    EXPECT_EQ(run.exitStatus, 3) << run.out << run.err;
    EXPECT_NE(run.out.find("The package was rejected: system.img does not match SHA256SUMS"), std::string::npos)
        << run.out;
    // The card never heard a byte.
    std::ifstream heard(transcript);
    std::string line;
    EXPECT_FALSE(std::getline(heard, line) && line.find(" < ") != std::string::npos) << line;
}

TEST_F(FwupgradeCli, ACardThatStopsAnsweringHalfWayExitsWith4AndNamesTheStep) {
    CardProcess card;
    // Silent for good from the 30th request the flash programmer gets: the
    // images up to system.img are written by then.
    const std::string link = StartCard(card, "card0", {"--fault", "silence:mode=programmer,occurrence=30,count=0"});
    const ProcessOutcome run = Fwupgrade({"upgrade", "--device", link, "--package", Package()});
    EXPECT_EQ(run.exitStatus, 4) << run.out << run.err;
    const std::vector<int> progress = Percentages(run.out);
    ASSERT_FALSE(progress.empty());
    EXPECT_GE(progress.back(), 90) << "the card answered up to system.img";
    EXPECT_LT(progress.back(), 100);
    EXPECT_NE(run.out.find("The upgrade failed while writing the partition table and the images: the card did "
                           "not answer."),
              std::string::npos)
        << run.out;
    EXPECT_NE(run.out.find("  The card was last seen in the flash programmer.\n"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("  To rescue the card run: fwupgrade rescue --device " + link), std::string::npos) << run.out;
    // The step and the reason in words, never a trace line or a source file.
    auto lines = Lines(run.out);
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[lines.size() - 2], "  step:   writing the partition table and the images");
    EXPECT_EQ(lines.back(), "  reason: the card did not answer");
    EXPECT_EQ(run.out.find("CFWUpgradeDataCDMA7627Module"), std::string::npos) << run.out;
    EXPECT_EQ(run.out.find(".cpp"), std::string::npos) << run.out;
}

// One run per kind of failure, its summary in --json: the step and the reason
// in words, where the card was last seen, and the command that brings it back.
TEST_F(FwupgradeCli, EachKindOfFailureSaysWhyWhereTheCardIsAndHowToBringItBack) {
    struct Kind {
        const char* fault;
        const char* step;
        const char* reason;
        const char* cardState;
        const char* recovery;   // "rescue", "restore" or ""
    };
    const Kind kinds[] = {
        {"silence:mode=programmer,occurrence=30,count=0", "writing the partition table and the images",
         "the card did not answer", "in the flash programmer", "rescue"},
        {"nv_refuse:item=453,command=0x26,count=0", "checking the package and identifying the card",
         "the card refused a request", "in its firmware", ""},
        {"nv_refuse:item=453,command=0x27,count=0", "writing the card's data back", "the card refused a request",
         "in its firmware", "restore"},
    };
    int index = 0;
    for (const Kind& kind : kinds) {
        CardProcess card;
        const std::string link = StartCard(card, "card" + std::to_string(index++), {"--fault", kind.fault});
        const ProcessOutcome run = Fwupgrade({"upgrade", "--device", link, "--package", Package(), "--json"});
        EXPECT_EQ(run.exitStatus, 4) << kind.fault << ": " << run.out << run.err;
        const auto lines = Lines(run.out);
        ASSERT_FALSE(lines.empty()) << kind.fault;
        const nlohmann::json result = nlohmann::json::parse(lines.back());
        EXPECT_EQ(result["event"], "result");
        EXPECT_EQ(result["step"], kind.step) << kind.fault;
        EXPECT_EQ(result["reason"], kind.reason) << kind.fault;
        EXPECT_EQ(result["card_state"], kind.cardState) << kind.fault;
        const std::string rescue = result["rescue"], restore = result["restore"];
        EXPECT_EQ(rescue.empty() ? "" : rescue.substr(0, 24), std::string(kind.recovery) == "rescue" ? "fwupgrade rescue --devic" : "")
            << kind.fault;
        EXPECT_EQ(restore.empty() ? "" : restore.substr(0, 25),
                  std::string(kind.recovery) == "restore" ? "fwupgrade restore --devic" : "")
            << kind.fault;
        if (!restore.empty()) {
            EXPECT_NE(restore.find(" --from " + (temp_ / "data") + "/fwupgrade/backups/8012A5C3/"), std::string::npos)
                << restore;
        }
        EXPECT_EQ(run.out.find("CFWUpgradeDataCDMA7627Module"), std::string::npos) << run.out;
        fs::remove(Package() + "/backup-record.txt");   // the next card starts afresh
    }
}

TEST_F(FwupgradeCli, AFailedRescueNamesItsStepInWords) {
    CardProcess card;
    // Never answers after the programmer started: the run leaves it there, and
    // the rescue finds nothing it can talk to.
    const std::string link = StartCard(card, "card0", {"--fault", "silence:mode=programmer,count=0"});
    const ProcessOutcome run = Fwupgrade({"upgrade", "--device", link, "--package", Package()});
    EXPECT_EQ(run.exitStatus, 4) << run.out << run.err;
    const ProcessOutcome rescue = Fwupgrade({"rescue", "--device", link, "--package", Package()});
    EXPECT_EQ(rescue.exitStatus, 4) << rescue.out << rescue.err;
    EXPECT_NE(rescue.out.find("The rescue failed while checking the package and identifying the card: the card did not "
                              "answer."),
              std::string::npos)
        << rescue.out;
    EXPECT_NE(rescue.out.find("  step:   checking the package and identifying the card\n"), std::string::npos)
        << rescue.out;
    EXPECT_EQ(rescue.out.find("CFWUpgradeDataCDMA7627Module"), std::string::npos) << rescue.out;
}

TEST_F(FwupgradeCli, FlashesFourCardsAtOnceEachWithItsOwnBackups) {
    CardProcess cards[4];
    std::vector<std::string> args = {"upgrade"};
    for (int i = 0; i < 4; ++i) {
        args.push_back("--device");
        args.push_back(StartCard(cards[i], "card" + std::to_string(i)));
    }
    args.insert(args.end(), {"--package", Package(), "--work-dir", "cards"});
    const ProcessOutcome run = Fwupgrade(args);
    ASSERT_EQ(run.exitStatus, 0) << run.out << run.err;
    EXPECT_NE(run.out.find("4 of 4 card(s) flashed successfully."), std::string::npos) << run.out;

    std::set<std::string> lockBackups;
    for (int i = 0; i < 4; ++i) {
        const std::string folder = RunFolder() + "/cards/card" + std::to_string(i);
        const std::string link = temp_ / ("card" + std::to_string(i));
        // Every card reported its own progress up to 100.
        EXPECT_EQ(Percentages(run.out, link + ": ").back(), 100) << link;
        EXPECT_TRUE(fs::is_regular_file(folder + "/package/channel.nvm")) << folder;
        EXPECT_TRUE(fs::is_symlink(folder + "/package/system.img")) << folder;
        ASSERT_TRUE(fs::is_regular_file(folder + "/VEKLock_1")) << folder;
        lockBackups.insert(fs::canonical(folder + "/VEKLock_1").string());
        EXPECT_NE(run.out.find("lock backup: " + folder + "/VEKLock_1"), std::string::npos);
        ExpectFlashed(cards[i], link);
    }
    EXPECT_EQ(lockBackups.size(), 4u);
    // The shared package stays as it was: no backups of any card in it.
    EXPECT_FALSE(fs::exists(Package() + "/channel.nvm"));
    EXPECT_FALSE(fs::exists(RunFolder() + "/VEKLock_1"));
}

TEST_F(FwupgradeCli, OneMissingCardOfTwoFailsTheRunButNotTheOtherCard) {
    CardProcess card;
    const std::string good = StartCard(card, "card0");
    const std::string absent = temp_ / "no-card";
    const ProcessOutcome run = Fwupgrade(
        {"upgrade", "--device", good, "--device", absent, "--package", Package(), "--work-dir", "cards", "--json"});
    EXPECT_EQ(run.exitStatus, 5) << run.out << run.err;
    // Every line is JSON: progress per card, then one summary.
    std::set<size_t> cardsWithProgress;
    nlohmann::json summary;
    for (const auto& line : Lines(run.out)) {
        const auto event = nlohmann::json::parse(line);
        if (event["event"] == "progress") cardsWithProgress.insert(event["card"].get<size_t>());
        if (event["event"] == "summary") summary = event;
    }
    EXPECT_EQ(cardsWithProgress, (std::set<size_t>{0}));
    ASSERT_TRUE(summary.is_object()) << run.out;
    EXPECT_EQ(summary["exit"], 5);
    ASSERT_EQ(summary["cards"].size(), 2u);
    EXPECT_EQ(summary["cards"][0]["exit"], 0);
    EXPECT_EQ(summary["cards"][1]["exit"], 5);
    EXPECT_EQ(summary["cards"][1]["headline"],
              "No such device: " + absent + ". Is the card plugged in? `fwupgrade detect` lists the cards and the ports "
                                            "to use.");
    ExpectFlashed(card, good);
}

TEST_F(FwupgradeCli, TheDemoFlashesAndVerifiesTwoVirtualCards) {
    const ProcessOutcome run =
        Fwupgrade({"demo", "--cards", "2", "--clock-scale", std::to_string(kClockScale), "--folder", temp_ / "demo"});
    EXPECT_EQ(run.exitStatus, 0) << run.out << run.err;
    EXPECT_NE(run.out.find("2 of 2 card(s) flashed successfully."), std::string::npos) << run.out;
    EXPECT_EQ(Lines(run.out)[Lines(run.out).size() - 2],
              "Verification: PASSED - the flash of 2 cards matches the package and each runs the new firmware.");
    EXPECT_TRUE(fs::exists(temp_ / "demo/cards/card1/VEKLock_1"));
}

TEST_F(FwupgradeCli, ARunWhoseFoldersAnotherRunHoldsKeepsItsBackupsInARunFolder) {
    // Another run holds the package folder and the current folder.
    RunLock other;
    std::string error;
    ASSERT_TRUE(other.Acquire({Package(), RunFolder()}, error)) << error;
    CardProcess card;
    const std::string link = StartCard(card, "card0");
    const ProcessOutcome run = Fwupgrade({"upgrade", "--device", link, "--package", Package()});
    EXPECT_EQ(run.exitStatus, 0) << run.out << run.err;
    const std::string runs = StateHome() + "/fwupgrade/runs/";
    EXPECT_NE(run.out.find("another fwupgrade run is using " + Package()), std::string::npos) << run.out;
    const size_t at = run.out.find("  run folder:  " + runs);
    ASSERT_NE(at, std::string::npos) << run.out;
    const std::string folder = run.out.substr(at + 15, run.out.find('\n', at) - at - 15);
    EXPECT_NE(run.out.find("  NV backup:   " + folder + "/channel.nvm\n"), std::string::npos) << run.out;
    EXPECT_TRUE(fs::exists(folder + "/channel.nvm"));
    EXPECT_TRUE(fs::exists(folder + "/VEKLock_1"));
    EXPECT_FALSE(fs::exists(Package() + "/channel.nvm"));
    EXPECT_FALSE(fs::exists(RunFolder() + "/VEKLock_1"));
    ExpectFlashed(card, link);
}

TEST_F(FwupgradeCli, AMissingPlugInExitsWith1) {
    CardProcess card;
    const std::string link = StartCard(card, "card0");
    const ProcessOutcome run =
        Fwupgrade({"upgrade", "--device", link, "--package", Package()}, {{"FWUPGRADE_PLUGIN", temp_ / "none.so"}});
    EXPECT_EQ(run.exitStatus, 1) << run.out << run.err;
    EXPECT_NE(run.out.find("Cannot load the upgrade module"), std::string::npos) << run.out;
}

TEST_F(FwupgradeCli, APlugInOfAnotherOperationsVersionIsNamedAndNothingRuns) {
    CardProcess card;
    const std::string link = StartCard(card, "card0");
    const std::vector<std::vector<std::string>> commands = {
        {"backup", "--device", link, "--plugin", OTHER_VERSION_PLUGIN},
        {"restore", "--device", link, "--plugin", OTHER_VERSION_PLUGIN},
        {"rescue", "--device", link, "--package", Package(), "--plugin", OTHER_VERSION_PLUGIN},
    };
    for (const auto& command : commands) {
        const ProcessOutcome run = Fwupgrade(command);
        EXPECT_EQ(run.exitStatus, 1) << command[0] << ": " << run.out << run.err;
        EXPECT_NE(run.out.find("does not offer version 2 of the card operations"), std::string::npos)
            << command[0] << ": " << run.out;
        EXPECT_NE(run.out.find("plug-in and fwupgrade do not match"), std::string::npos) << run.out;
    }
    EXPECT_FALSE(fs::exists(Package() + "/channel.nvm"));
}

TEST_F(FwupgradeCli, JsonOutputOfARejectedPackageIsTheResultAlone) {
    fs::remove(Package() + "/cefs.mbn");
    const ProcessOutcome run = Fwupgrade({"upgrade", "--port", "2", "--package", Package(), "--json"});
    EXPECT_EQ(run.exitStatus, 3);
    const auto lines = Lines(run.out);
    ASSERT_EQ(lines.size(), 1u) << run.out;
    const auto last = nlohmann::json::parse(lines.back());
    EXPECT_EQ(last["event"], "result");
    EXPECT_EQ(last["code"], -13313);
    EXPECT_EQ(last["exit"], 3);
    EXPECT_EQ(last["reason"], "cefs.mbn is missing");
}

TEST_F(FwupgradeCli, UsageErrorsExitWith2AndHelpWith0) {
    EXPECT_EQ(Fwupgrade({}).exitStatus, 2);
    EXPECT_EQ(Fwupgrade({"flash"}).exitStatus, 2);
    // No card named and none plugged in.
    const ProcessOutcome noCard = Fwupgrade({"upgrade", "--package", Package()});
    EXPECT_EQ(noCard.exitStatus, 5);
    EXPECT_NE(noCard.err.find("No card found"), std::string::npos) << noCard.err;
    // An empty path would reach the port pattern and open COM1's device.
    const ProcessOutcome emptyDevice = Fwupgrade({"upgrade", "--device", "", "--package", Package()});
    EXPECT_EQ(emptyDevice.exitStatus, 2);
    EXPECT_NE(emptyDevice.err.find("--device needs a device path"), std::string::npos) << emptyDevice.err;
    EXPECT_EQ(Fwupgrade({"upgrade", "--port", "1", "--device", "/dev/null", "--package", Package()}).exitStatus, 2);
    EXPECT_EQ(Fwupgrade({"upgrade", "--port", "x", "--package", Package()}).exitStatus, 2);
    // The device path becomes the port pattern: no format characters.
    EXPECT_EQ(Fwupgrade({"upgrade", "--device", temp_ / "tty%n", "--package", Package()}).exitStatus, 2);
    // One card named twice, once through a link: two workers would share its port.
    fs::create_symlink(Package(), temp_ / "alias");
    EXPECT_EQ(Fwupgrade({"upgrade", "--device", Package(), "--device", temp_ / "alias", "--package", Package()})
                  .exitStatus,
              2);
    EXPECT_FALSE(fs::exists(RunFolder() + "/fwupgrade-cards"));
    for (const char* command : {"upgrade", "check", "detect", "demo", "register", "unregister"}) {
        const ProcessOutcome help = Fwupgrade({command, "--help"});
        EXPECT_EQ(help.exitStatus, 0) << command;
        EXPECT_NE(help.out.find("--help"), std::string::npos) << command;
    }
    EXPECT_EQ(Fwupgrade({"--help"}).exitStatus, 0);
}

TEST_F(FwupgradeCli, CheckListsWhatIsWrongWithoutACard) {
    EXPECT_EQ(Fwupgrade({"check", "--package", Package()}).exitStatus, 0);
    std::ofstream(Package() + "/oemsblhd.mbn", std::ios::trunc) << std::string(2000, 'h');
    fs::remove(Package() + "/boot.img");
    const ProcessOutcome run = Fwupgrade({"check", "--package", Package()});
    EXPECT_EQ(run.exitStatus, 3);
    EXPECT_NE(run.out.find("error:  oemsblhd.mbn: holds 2000 bytes"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("error:  boot.img: missing"), std::string::npos) << run.out;
}

TEST_F(FwupgradeCli, DetectAsksTheModuleAboutEachUsbSerialDevice) {
    // Two USB serial devices in a sysfs tree: the card and something else.
    auto usbDevice = [&](const std::string& port, const std::string& tty, const std::string& vendor,
                         const std::string& product) {
        const std::string device = temp_ / ("sys/bus/usb/devices/" + port);
        fs::create_directories(device);
        fs::create_directories(device + ":1.0/" + tty);
        std::ofstream(device + ":1.0/bInterfaceNumber") << "00\n";
        std::ofstream(device + "/idVendor") << vendor << "\n";
        std::ofstream(device + "/idProduct") << product << "\n";
    };
    usbDevice("1-1", "ttyUSB0", "2e1a", "0081");
    usbDevice("1-2", "ttyUSB1", "0403", "6001");
    const ProcessOutcome run =
        Fwupgrade({"detect", "--sysfs", temp_ / "sys", "--devfs", temp_ / "dev"});
    EXPECT_EQ(run.exitStatus, 0) << run.err;
    EXPECT_NE(run.out.find(temp_ / "dev/ttyUSB0" + "  2e1a:0081  supported  --usb-port 1-1:1.0  driver none  this user "
                                                  "cannot open it"),
              std::string::npos)
        << run.out;
    EXPECT_EQ(run.out.find("ttyUSB1"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("1 card found."), std::string::npos);
    const ProcessOutcome all = Fwupgrade({"detect", "--all", "--sysfs", temp_ / "sys", "--devfs", temp_ / "dev"});
    EXPECT_NE(all.out.find("ttyUSB1  0403:6001  not supported  --usb-port 1-2:1.0"), std::string::npos) << all.out;
}

TEST_F(FwupgradeCli, RegisterAndUnregisterTheModule) {
    const std::string key = temp_ / "registry";
    ASSERT_EQ(Fwupgrade({"register"}).exitStatus, 0);
    // The register holds the module under 268\80 with its library path.
    bool found = false;
    for (const auto& entry : fs::recursive_directory_iterator(key))
        if (entry.path().filename() == "80" && entry.path().parent_path().filename() == "268") found = true;
    EXPECT_TRUE(found);
    ASSERT_EQ(Fwupgrade({"unregister"}).exitStatus, 0);
    found = false;
    for (const auto& entry : fs::recursive_directory_iterator(key))
        if (entry.path().filename() == "268") found = true;
    EXPECT_FALSE(found);
}

}  // namespace
}  // namespace fwupgrade

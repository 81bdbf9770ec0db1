// The built fwupgrade stopped, hung up on and orphaned while it flashes
// virtual cards, and the history it keeps of those runs.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <chrono>
#include <csignal>
#include <thread>

#include <nlohmann/json.hpp>

#include "CliFixture.h"
#include "host/fwupgrade/run/UnfinishedRuns.h"

namespace fwupgrade {
namespace {

nlohmann::json ReadJson(const std::string& path) {
    std::ifstream in(path);
    return nlohmann::json::parse(in, nullptr, false);
}

std::vector<nlohmann::json> JsonLines(const std::string& path) {
    std::vector<nlohmann::json> entries;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);) entries.push_back(nlohmann::json::parse(line));
    return entries;
}

std::string LastLine(const std::string& path) {
    std::ifstream in(path);
    std::string line, last;
    while (std::getline(in, line)) last = line;
    return last;
}

bool WaitForFile(const std::string& path, int timeoutSeconds) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds);
    while (!fs::exists(path)) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return true;
}

TEST_F(FwupgradeCli, AStopSignalBeforeTheSwitchEndsTheRunAndLeavesTheCardAsItWas) {
    CardProcess card;
    const std::string link = StartCard(card, "card0");
    auto run = Start({"upgrade", "--device", link, "--package", Package()});
    // At 3% the module talks to the card in its own firmware.
    ASSERT_TRUE(run->WaitForLine(ProgressAtLeast(3), kTimeout)) << run->Out();
    run->Signal(SIGINT);
    const ProcessOutcome outcome = run->Wait(kTimeout);
    EXPECT_EQ(outcome.exitStatus, 130) << outcome.out << outcome.err;
    EXPECT_NE(outcome.out.find("Stopped by SIGINT before the card left its firmware: the card is unchanged."),
              std::string::npos)
        << outcome.out;
    EXPECT_LT(Percentages(outcome.out).back(), 6) << outcome.out;
    EXPECT_EQ(outcome.out.find("flash programmer"), std::string::npos) << outcome.out;

    sim::CardData data;
    bool newFirmware = true;
    size_t violations = 1;
    std::string error;
    ASSERT_TRUE(card.Stop(data, newFirmware, violations, error)) << error;
    const nlohmann::json state = ReadJson(temp_ / "card0-state.json");
    EXPECT_EQ(state["mode"], "diag");
    EXPECT_EQ(state["mode_changes"], 0);
    EXPECT_FALSE(newFirmware);
    EXPECT_EQ(violations, 0u);

    // The default log is complete up to the stop, and the run is in the history.
    // Its entry from before it touched the card and the one at the end are one run.
    const auto history = FoldRunEntries(JsonLines(StateHome() + "/fwupgrade/history.jsonl"));
    ASSERT_EQ(history.size(), 1u);
    EXPECT_EQ(history[0]["result"], "interrupted");
    EXPECT_EQ(history[0]["exit"], 130);
    const std::string log = history[0]["log"];
    EXPECT_EQ(log.rfind(StateHome() + "/fwupgrade/logs/", 0), 0u) << log;
    EXPECT_NE(LastLine(log).find("fwupgrade:   log:"), std::string::npos) << LastLine(log);
}

TEST_F(FwupgradeCli, PastTheSwitchOnlyASecondInterruptStopsTheRunAndTheHistoryKeepsBoth) {
    CardProcess finishing, stopped;
    const std::string finishingLink = StartCard(finishing, "card0");
    const std::string stoppedLink = StartCard(stopped, "card1");

    // A closed terminal and one Ctrl-C: the run goes on to the end.
    auto run = Start({"upgrade", "--device", finishingLink, "--package", Package()});
    ASSERT_TRUE(run->WaitForLine(ProgressAtLeast(7), kTimeout)) << run->Out();
    run->Signal(SIGHUP);
    run->Signal(SIGINT);
    EXPECT_TRUE(run->WaitForLine(Contains("SIGINT: the card is being flashed and the run will finish"), kTimeout))
        << run->Out();
    const ProcessOutcome finished = run->Wait(kTimeout);
    EXPECT_EQ(finished.exitStatus, 0) << finished.out << finished.err;
    EXPECT_EQ(Percentages(finished.out).back(), 100);
    EXPECT_NE(finished.out.find("flashed successfully"), std::string::npos) << finished.out;
    ExpectFlashed(finishing, finishingLink);

    // Two within 5 s: the run stops and says how to rescue the card.
    run = Start({"upgrade", "--device", stoppedLink, "--package", Package()});
    ASSERT_TRUE(run->WaitForLine(ProgressAtLeast(7), kTimeout)) << run->Out();
    run->Signal(SIGTERM);
    ASSERT_TRUE(run->WaitForLine(Contains("the run will finish"), kTimeout)) << run->Out();
    run->Signal(SIGINT);
    const ProcessOutcome interrupted = run->Wait(kTimeout);
    EXPECT_EQ(interrupted.exitStatus, 130) << interrupted.out << interrupted.err;
    EXPECT_NE(interrupted.out.find("Stopped by a second SIGINT while the card was being flashed"), std::string::npos)
        << interrupted.out;
    EXPECT_NE(interrupted.out.find("  To rescue the card run: fwupgrade rescue --device " + stoppedLink +
                                   " --package " + Package() + "\n"),
              std::string::npos)
        << interrupted.out;
    // A card stopped half-way is rescued, never just plugged in again.
    EXPECT_EQ(interrupted.out.find("unplug it and plug it back in"), std::string::npos) << interrupted.out;
    EXPECT_NE(interrupted.out.find("  The card was last seen in its boot downloader.\n"), std::string::npos)
        << interrupted.out;
    EXPECT_NE(interrupted.out.find("  Its data is safe: NV items, Wi-Fi address and lock files are kept in " +
                                   (temp_ / "data") + "/fwupgrade/backups/8012A5C3/"),
              std::string::npos)
        << interrupted.out;

    // The printed command brings the card back.
    const ProcessOutcome rescued = Fwupgrade({"rescue", "--device", stoppedLink, "--package", Package()});
    EXPECT_EQ(rescued.exitStatus, 0) << rescued.out << rescued.err;
    EXPECT_NE(rescued.out.find("The card was rescued: every image is written and its data is back."), std::string::npos)
        << rescued.out;

    ExpectFlashed(stopped, stoppedLink);

    const ProcessOutcome listed = Fwupgrade({"history", "--json"});
    ASSERT_EQ(listed.exitStatus, 0) << listed.err;
    nlohmann::json entries = nlohmann::json::parse(listed.out);
    ASSERT_EQ(entries.size(), 3u) << listed.out;
    EXPECT_EQ(entries[0]["command"], "fwupgrade rescue --device " + stoppedLink + " --package " + Package());
    EXPECT_EQ(entries[0]["result"], "ok");
    EXPECT_EQ(entries[0]["esn"], "8012A5C3");
    entries.erase(0);
    EXPECT_EQ(entries[0]["device"], stoppedLink);
    EXPECT_EQ(entries[0]["result"], "interrupted");
    EXPECT_FALSE(entries[0]["failed_step"].get<std::string>().empty()) << entries[0];
    EXPECT_EQ(entries[1]["device"], finishingLink);
    EXPECT_EQ(entries[1]["result"], "ok");
    EXPECT_EQ(entries[1]["command"], "fwupgrade upgrade --device " + finishingLink + " --package " + Package());
    EXPECT_EQ(entries[1]["version_before"], "LUM_Q7KV1.0.0B05");
    EXPECT_EQ(entries[1]["version_after"], "LUM_Q7KV1.0.0B06") << "the version the new firmware reported";
    EXPECT_EQ(entries[1]["esn"], "8012A5C3");
    EXPECT_EQ(entries[1]["kept_backup"].get<std::string>().rfind((temp_ / "data") + "/fwupgrade/backups/8012A5C3/", 0), 0u)
        << entries[1];
    EXPECT_EQ(entries[1]["package_digest"].get<std::string>().size(), std::string("sha256:").size() + 64);
    std::vector<std::string> phases;
    for (const auto& phase : entries[1]["phases"]) phases.push_back(phase["phase"]);
    EXPECT_EQ(phases, (std::vector<std::string>{"prepare", "backup", "switch", "images", "reset", "restore"}));

    const ProcessOutcome text = Fwupgrade({"history"});
    const auto lines = Lines(text.out);
    ASSERT_EQ(lines.size(), 12u) << text.out;
    EXPECT_NE(lines[0].find("  rescue ok  " + stoppedLink), std::string::npos) << lines[0];
    EXPECT_NE(lines[4].find("  upgrade interrupted ("), std::string::npos) << lines[4];
    EXPECT_NE(lines[8].find("  upgrade ok  " + finishingLink + "  LUM_Q7KV1.0.0B05 -> LUM_Q7KV1.0.0B06  " + Package()),
              std::string::npos)
        << lines[8];
}

TEST_F(FwupgradeCli, WorkersFinishTheirCardsWhenTheParentIsKilled) {
    CardProcess cards[2];
    const std::string links[2] = {StartCard(cards[0], "card0"), StartCard(cards[1], "card1")};
    auto parent = Start({"upgrade", "--device", links[0], "--device", links[1], "--package", Package(), "--work-dir",
                         "cards"});
    // Both workers are flashing when their parent goes.
    ASSERT_TRUE(parent->WaitForLine(Contains(links[0] + ": 7%"), kTimeout)) << parent->Out();
    ASSERT_TRUE(parent->WaitForLine(Contains(links[1] + ": 7%"), kTimeout)) << parent->Out();
    parent->Signal(SIGKILL);
    parent->Wait(kTimeout);

    for (int i = 0; i < 2; ++i) {
        const std::string folder = RunFolder() + "/cards/card" + std::to_string(i);
        ASSERT_TRUE(WaitForFile(folder + "/history.jsonl", kTimeout)) << folder;
        std::ifstream summary(folder + "/summary.txt");
        std::string headline;
        std::getline(summary, headline);
        EXPECT_EQ(headline, links[i] + ": The card was flashed successfully.");
        EXPECT_NE(LastLine(folder + "/fwupgrade.log").find("fwupgrade:   log:"), std::string::npos) << folder;
        const auto entries = JsonLines(folder + "/history.jsonl");
        ASSERT_EQ(entries.size(), 1u);
        EXPECT_EQ(entries[0]["result"], "ok");
        EXPECT_EQ(entries[0]["command"].get<std::string>().rfind("fwupgrade upgrade --device " + links[0], 0), 0u);
        ExpectFlashed(cards[i], links[i]);
    }
    EXPECT_EQ(FoldRunEntries(JsonLines(StateHome() + "/fwupgrade/history.jsonl")).size(), 2u);
}

TEST_F(FwupgradeCli, AFifoInThePackageIsRejectedWithoutBlocking) {
    fs::remove(Package() + "/system.img");
    ASSERT_EQ(::mkfifo((Package() + "/system.img").c_str(), 0644), 0);
    const ProcessOutcome check = Fwupgrade({"check", "--package", Package()});
    EXPECT_EQ(check.exitStatus, 3);
    EXPECT_NE(check.out.find("error:  system.img: not a regular file"), std::string::npos) << check.out;
    const ProcessOutcome upgrade = Fwupgrade({"upgrade", "--port", "1", "--package", Package()});
    EXPECT_FALSE(upgrade.timedOut);
    EXPECT_EQ(upgrade.exitStatus, 3) << upgrade.out << upgrade.err;
    EXPECT_NE(upgrade.out.find("The package was rejected: system.img is not a regular file."), std::string::npos)
        << upgrade.out;
}

}  // namespace
}  // namespace fwupgrade

namespace fwupgrade {
namespace {

TEST_F(FwupgradeCli, ABackupWrittenBackToAWipedCardGivesItItsDataBack) {
    CardProcess card;
    const std::string link = StartCard(card, "card0");
    const ProcessOutcome backup = Fwupgrade({"backup", "--device", link});
    ASSERT_EQ(backup.exitStatus, 0) << backup.out << backup.err;
    const std::string keptPrefix = "  kept backup: " + (temp_ / "data") + "/fwupgrade/backups/8012A5C3/";
    EXPECT_NE(backup.out.find(keptPrefix), std::string::npos) << backup.out;

    // The card loses everything it owns and comes back on the bus.
    sim::CardData data;
    bool newFirmware = false;
    size_t violations = 0;
    std::string error;
    ASSERT_TRUE(card.Stop(data, newFirmware, violations, error)) << error;
    EXPECT_EQ(violations, 0u);
    data.wifi = {};
    data.efsFiles.clear();
    for (auto& [item, nv] : data.nv)
        if (!nv.readOnly) nv.data.fill(0);
    const std::string wiped = temp_ / "wiped.json";
    std::ofstream(wiped) << sim::CardDataToJson(data).dump();
    const std::string again = StartCard(card, "card1", {"--profile", wiped});

    const ProcessOutcome restore = Fwupgrade({"restore", "--device", again});
    EXPECT_EQ(restore.exitStatus, 0) << restore.out << restore.err;
    EXPECT_NE(restore.out.find("The backup went back to the card."), std::string::npos) << restore.out;
    EXPECT_NE(restore.out.find("  Wi-Fi:       written back\n"), std::string::npos) << restore.out;
    EXPECT_NE(restore.out.find("  lock files:  3 of 3 written back\n"), std::string::npos) << restore.out;
    ASSERT_TRUE(card.Stop(data, newFirmware, violations, error)) << error;
    ExpectOwnData(data, false);

    const nlohmann::json entries = nlohmann::json::parse(Fwupgrade({"history", "--json"}).out);
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0]["command"], "fwupgrade restore --device " + again);
    EXPECT_EQ(entries[1]["command"], "fwupgrade backup --device " + link);
    EXPECT_EQ(entries[0]["esn"], "8012A5C3");
    EXPECT_EQ(entries[0]["kept_backup"], entries[1]["kept_backup"]);
}

// Where a killed run leaves the card: its progress when it was killed, the
// state a new run finds it in.
struct KillPoint {
    int percent;
    const char* state;
};

class KilledRun : public FwupgradeCli, public ::testing::WithParamInterface<KillPoint> {};

TEST_P(KilledRun, LeavesACardThatANewRunNamesWithoutItsRecordAndFinishesWithIt) {
    CardProcess card;
    const std::string link = StartCard(card, "card0");
    auto run = Start({"upgrade", "--device", link, "--package", Package()});
    ASSERT_TRUE(run->WaitForLine(ProgressAtLeast(GetParam().percent), kTimeout)) << run->Out();
    run->Signal(SIGKILL);
    run->Wait(kTimeout);

    // Without the killed run's record, a new run finds the card outside its
    // firmware and says so instead of reading NV items.
    const std::string record = Package() + "/backup-record.txt";
    fs::rename(record, temp_ / "record-aside.txt");
    const ProcessOutcome again = Fwupgrade({"upgrade", "--device", link, "--package", Package()});
    EXPECT_EQ(again.exitStatus, 4) << again.out;
    EXPECT_NE(again.out.find(std::string("The card is ") + GetParam().state + ", not in its firmware"),
              std::string::npos)
        << again.out;
    EXPECT_NE(again.out.find("  To rescue the card run: fwupgrade rescue --device " + link), std::string::npos)
        << again.out;
    EXPECT_NE(again.out.find("An earlier run on this card never finished: fwupgrade upgrade --device " + link),
              std::string::npos)
        << again.out;

    // With it, the new run finishes what the killed one started, as a rescue does.
    fs::rename(temp_ / "record-aside.txt", record);
    const ProcessOutcome finished = Fwupgrade({"upgrade", "--device", link, "--package", Package()});
    EXPECT_EQ(finished.exitStatus, 0) << finished.out << finished.err;
    sim::CardData data;
    bool newFirmware = false;
    size_t violations = 0;
    std::string error;
    ASSERT_TRUE(card.Stop(data, newFirmware, violations, error)) << error;
    EXPECT_TRUE(newFirmware);
    const sim::FlashCheck check = sim::CheckFlashAgainstPackage(data, Package(), true);
    EXPECT_TRUE(check.ok) << (check.problems.empty() ? "" : check.problems.front());
    ExpectOwnData(data, true);

    const nlohmann::json entries = nlohmann::json::parse(Fwupgrade({"history", "--json"}).out);
    ASSERT_EQ(entries.size(), 3u) << "the killed run, the refused one and the finishing one";
    EXPECT_EQ(entries[0]["result"], "ok");
    EXPECT_EQ(entries[1]["result"], "failed");
    EXPECT_EQ(entries[2]["result"], "unfinished");
}

// 7%: the card has just entered its boot downloader; 35%: system.img streams.
INSTANTIATE_TEST_SUITE_P(FwupgradeCli, KilledRun,
                         ::testing::Values(KillPoint{7, "in its boot downloader"},
                                           KillPoint{35, "in the flash programmer"}),
                         [](const ::testing::TestParamInfo<KillPoint>& info) {
                             return info.param.percent == 7 ? std::string("InTheBootDownloader")
                                                            : std::string("WhileSystemStreams");
                         });

}  // namespace
}  // namespace fwupgrade

// Stop signals during `backup` and `restore`: the first asks the engine to
// stop at its next safe point, a second within 5 s ends the run where it is;
// either way the summary says where the card's data is and how to go on.
// The card answers late (its own pauses, never the program's) so that a
// signal lands in the step the test means.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <thread>

#include <nlohmann/json.hpp>

#include "CliFixture.h"
#include "host/fwupgrade/run/UnfinishedRuns.h"

namespace fwupgrade {
namespace {

// Every NV write (0x27) or read (0x26) of the card is answered 100 ms late.
const std::string kLateNvWrites = "late:command=0x27,value=100,count=0";
const std::string kLateNvReads = "late:command=0x26,value=100,count=0";

bool FileHasLine(const std::string& path, const std::string& text) {
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);)
        if (line.find(text) != std::string::npos) return true;
    return false;
}

bool WaitForFileLine(const std::string& path, const std::string& text, int timeoutSeconds) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds);
    while (!FileHasLine(path, text)) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

// The value of a summary line ("  kept backup: /x/y\n" -> "/x/y").
std::string SummaryValue(const std::string& out, const std::string& label) {
    const size_t at = out.find("  " + label);
    if (at == std::string::npos) return {};
    const size_t from = at + 2 + label.size();
    return out.substr(from, out.find('\n', from) - from);
}

nlohmann::json CardState(const std::string& path) {
    std::ifstream in(path);
    return nlohmann::json::parse(in);
}

std::vector<nlohmann::json> JsonLines(const std::string& path) {
    std::vector<nlohmann::json> entries;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);) entries.push_back(nlohmann::json::parse(line));
    return entries;
}

class CardDataStops : public FwupgradeCli {
protected:
    // Backs the card up, then wipes what it owns and starts it again on
    // `name` with `extra`; the kept backup folder.
    std::string BackUpAndWipe(CardProcess& card, const std::string& name, std::vector<std::string> extra) {
        const std::string link = StartCard(card, "original");
        const ProcessOutcome backup = Fwupgrade({"backup", "--device", link});
        EXPECT_EQ(backup.exitStatus, 0) << backup.out << backup.err;
        sim::CardData data;
        bool newFirmware = false;
        size_t violations = 0;
        std::string error;
        EXPECT_TRUE(card.Stop(data, newFirmware, violations, error)) << error;
        data.wifi = {};
        data.efsFiles.clear();
        for (auto& [item, nv] : data.nv)
            if (!nv.readOnly) nv.data.fill(0);
        const std::string wiped = temp_ / "wiped.json";
        std::ofstream(wiped) << sim::CardDataToJson(data).dump();
        extra.insert(extra.end(), {"--profile", wiped});
        StartCard(card, name, extra);
        return SummaryValue(backup.out, "kept backup: ");
    }

    // Stops the card; its state file read back. (A restore's look at the
    // card's state sends it requests of other modes, which it counts.)
    sim::CardData StopCard(CardProcess& card) {
        sim::CardData data;
        bool newFirmware = true;
        size_t violations = 0;
        std::string error;
        EXPECT_TRUE(card.Stop(data, newFirmware, violations, error)) << error;
        EXPECT_FALSE(newFirmware);
        return data;
    }
};

TEST_F(CardDataStops, ARestoreStoppedPartWayKeepsItsBackupAndASecondRestoreGivesTheDataBack) {
    CardProcess card;
    const std::string kept = BackUpAndWipe(card, "wiped", {"--fault", kLateNvWrites});
    ASSERT_FALSE(kept.empty());
    const std::string link = temp_ / "wiped";
    const std::string log = RunFolder() + "/restore.log";
    auto run = Start({"restore", "--device", link, "--log", log});
    ASSERT_TRUE(WaitForFileLine(log, "Function: RestoreNVMOP", kTimeout)) << run->Out();
    // Writing, the restore has no safe point left: one Ctrl-C only says so.
    run->Signal(SIGINT);
    ASSERT_TRUE(run->WaitForLine(Contains("SIGINT: the restore stops at its next safe point"), kTimeout)) << run->Out();
    run->Signal(SIGINT);
    const ProcessOutcome stopped = run->Wait(kTimeout);
    EXPECT_EQ(stopped.exitStatus, 130) << stopped.out << stopped.err;
    EXPECT_NE(stopped.out.find(link + ": Stopped by a second SIGINT while the card's data was being written back: it "
                                      "may be only partly back.\n"),
              std::string::npos)
        << stopped.out;
    EXPECT_NE(stopped.out.find("  kept backup: " + kept + "\n"), std::string::npos) << stopped.out;
    EXPECT_NE(stopped.out.find("  To finish the restore run: fwupgrade restore --device " + link + " --from " + kept +
                               "\n"),
              std::string::npos)
        << stopped.out;
    EXPECT_NE(stopped.out.find("  log:         " + log + "\n"), std::string::npos) << stopped.out;
    EXPECT_TRUE(fs::exists(kept + "/backup-record.txt"));

    // The start and the end of the run are one entry, interrupted.
    const auto history = FoldRunEntries(JsonLines(StateHome() + "/fwupgrade/history.jsonl"));
    ASSERT_EQ(history.size(), 2u);
    EXPECT_EQ(history[1]["result"], "interrupted");
    EXPECT_EQ(history[1]["exit"], 130);
    EXPECT_EQ(history[1]["kept_backup"], kept);

    // Part of the data went back, not all of it; the command given finishes it.
    const sim::CardData partly = StopCard(card);
    const std::string partlyFile = temp_ / "partly.json";
    std::ofstream(partlyFile) << sim::CardDataToJson(partly).dump();
    const std::string again = StartCard(card, "again", {"--profile", partlyFile});
    const ProcessOutcome finished = Fwupgrade({"restore", "--device", again, "--from", kept});
    EXPECT_EQ(finished.exitStatus, 0) << finished.out << finished.err;
    EXPECT_NE(finished.out.find("The backup went back to the card."), std::string::npos) << finished.out;
    ExpectOwnData(StopCard(card), false);
}

TEST_F(CardDataStops, OneInterruptWhileTheRestoreWritesLetsItFinish) {
    CardProcess card;
    BackUpAndWipe(card, "wiped", {"--fault", kLateNvWrites});
    const std::string log = RunFolder() + "/restore.log";
    auto run = Start({"restore", "--device", temp_ / "wiped", "--log", log});
    ASSERT_TRUE(WaitForFileLine(log, "Function: RestoreNVMOP", kTimeout)) << run->Out();
    run->Signal(SIGTERM);
    const ProcessOutcome finished = run->Wait(kTimeout);
    EXPECT_EQ(finished.exitStatus, 0) << finished.out << finished.err;
    EXPECT_NE(finished.out.find("SIGTERM: the restore stops at its next safe point"), std::string::npos) << finished.out;
    EXPECT_NE(finished.out.find("The backup went back to the card."), std::string::npos) << finished.out;
    ExpectOwnData(StopCard(card), false);
}

TEST_F(CardDataStops, ARestoreStoppedBeforeItWritesLeavesTheCardAsItWas) {
    CardProcess card;
    // In real time the card's ESN answers come 150 ms late, inside their
    // 300 ms, so the signal lands before the restore's step.
    const std::string kept = BackUpAndWipe(card, "wiped", {"--fault", "late:command=0x01,value=150,count=0"});
    const std::string link = temp_ / "wiped";
    const std::string log = RunFolder() + "/restore.log";
    auto run = Start({"restore", "--device", link, "--log", log}, {{"FWUPGRADE_CLOCK_SCALE", "1"}});
    ASSERT_TRUE(WaitForFileLine(log, "to the card on port", kTimeout)) << run->Out();
    run->Signal(SIGINT);
    const ProcessOutcome stopped = run->Wait(kTimeout);
    EXPECT_EQ(stopped.exitStatus, 130) << stopped.out << stopped.err;
    EXPECT_NE(stopped.out.find(link + ": Stopped by SIGINT before anything was written back: the card's data is as it "
                                      "was.\n  kept backup: " + kept + " (still there)\n"),
              std::string::npos)
        << stopped.out;
    EXPECT_NE(stopped.out.find("  To finish the restore run: fwupgrade restore --device " + link + " --from " + kept),
              std::string::npos)
        << stopped.out;
    EXPECT_FALSE(FileHasLine(log, "Function: RestoreNVMOP"));
    const sim::CardData data = StopCard(card);
    for (const auto& [item, nv] : data.nv) {
        if (!nv.readOnly) {
            EXPECT_EQ(nv.data, decltype(nv.data){}) << "NV item " << item;
        }
    }
}

TEST_F(CardDataStops, ABackupThatGetsAnInterruptLeavesTheCardUnchanged) {
    CardProcess card;
    const std::string link = StartCard(card, "card0", {"--fault", kLateNvReads});
    const std::string log = RunFolder() + "/backup.log";
    // One Ctrl-C while the data is read: the read finishes and the card's
    // lock files are closed again.
    auto run = Start({"backup", "--device", link, "--log", log});
    ASSERT_TRUE(WaitForFileLine(log, "Function: BackupNVMOP", kTimeout)) << run->Out();
    run->Signal(SIGINT);
    const ProcessOutcome finished = run->Wait(kTimeout);
    EXPECT_EQ(finished.exitStatus, 0) << finished.out << finished.err;
    EXPECT_NE(finished.out.find("SIGINT: the backup stops at its next safe point"), std::string::npos) << finished.out;
    ExpectOwnData(StopCard(card), false);
    const nlohmann::json state = CardState(temp_ / "card0-state.json");
    EXPECT_EQ(state["lock_access"], false);
    EXPECT_EQ(state["mode"], "diag");
    EXPECT_EQ(state["mode_changes"], 0);

    // Two: the run ends at once, keeps no backup and says what it left.
    const std::string again = StartCard(card, "card1", {"--fault", kLateNvReads, "--profile", temp_ / "card0-state.json"});
    const std::string secondLog = RunFolder() + "/backup-again.log";
    run = Start({"backup", "--device", again, "--log", secondLog});
    ASSERT_TRUE(WaitForFileLine(secondLog, "Function: BackupNVMOP", kTimeout)) << run->Out();
    run->Signal(SIGINT);
    ASSERT_TRUE(run->WaitForLine(Contains("SIGINT: the backup stops"), kTimeout)) << run->Out();
    run->Signal(SIGINT);
    const ProcessOutcome stopped = run->Wait(kTimeout);
    EXPECT_EQ(stopped.exitStatus, 130) << stopped.out << stopped.err;
    EXPECT_NE(stopped.out.find("Stopped by a second SIGINT while the card's data was being read: no backup was kept."),
              std::string::npos)
        << stopped.out;
    const nlohmann::json backups = nlohmann::json::parse(Fwupgrade({"backups", "--json"}).out);
    EXPECT_EQ(backups.size(), 1u) << backups.dump();
    ExpectOwnData(StopCard(card), false);
}

TEST_F(CardDataStops, ABackupStoppedBeforeItReadsKeepsNothingAndLeavesTheCardAsItWas) {
    CardProcess card;
    // In real time, as the restore above: the signal lands before the backup's step.
    const std::string link = StartCard(card, "card0", {"--fault", "late:command=0x01,value=150,count=0"});
    const std::string log = RunFolder() + "/backup.log";
    auto run = Start({"backup", "--device", link, "--log", log}, {{"FWUPGRADE_CLOCK_SCALE", "1"}});
    ASSERT_TRUE(WaitForFileLine(log, "Back up the card on port", kTimeout)) << run->Out();
    run->Signal(SIGINT);
    const ProcessOutcome stopped = run->Wait(kTimeout);
    EXPECT_EQ(stopped.exitStatus, 130) << stopped.out << stopped.err;
    EXPECT_NE(stopped.out.find(link + ": Stopped by SIGINT before the card's data was read: no backup was taken; the "
                                      "card is unchanged.\n"),
              std::string::npos)
        << stopped.out;
    EXPECT_FALSE(FileHasLine(log, "Function: BackupNVMOP"));
    EXPECT_EQ(nlohmann::json::parse(Fwupgrade({"backups", "--json"}).out).size(), 0u);
    const auto history = FoldRunEntries(JsonLines(StateHome() + "/fwupgrade/history.jsonl"));
    ASSERT_EQ(history.size(), 1u);
    EXPECT_EQ(history[0]["result"], "interrupted");
    ExpectOwnData(StopCard(card), false);
}

}  // namespace
}  // namespace fwupgrade

// The built fwupgrade against virtual cards where the package folder is
// shared or cannot be written, the data folder cannot take the kept copy,
// and a run is killed: each run ends with the card's data checked against
// what the card had before.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <optional>

#include <nlohmann/json.hpp>

#include "CliFixture.h"
#include "host/fwupgrade/card/CardBackup.h"
#include "host/fwupgrade/run/RunLock.h"

namespace fwupgrade {
namespace {

constexpr uint32_t kOtherEsn = 0x8012A5C4;

// The folder a summary names on its "run folder:" line, "" when none.
std::string RunFolderOf(const std::string& out) {
    const std::string label = "  run folder:  ";
    const size_t at = out.find(label);
    if (at == std::string::npos) return {};
    return out.substr(at + label.size(), out.find('\n', at) - at - label.size());
}

std::vector<std::string> Names(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// The program of that name on the PATH, "" when there is none.
std::string Which(const std::string& name) {
    const char* path = std::getenv("PATH");
    std::string folders = path != nullptr ? path : "/usr/bin:/bin";
    for (size_t from = 0; from <= folders.size();) {
        const size_t end = std::min(folders.find(':', from), folders.size());
        const std::string candidate = folders.substr(from, end - from) + "/" + name;
        if (::access(candidate.c_str(), X_OK) == 0) return candidate;
        from = end + 1;
    }
    return {};
}

uint32_t EsnOfBackupIn(const std::string& folder) {
    const std::optional<RunBackup> backup = BackupOfRun(folder, 0);
    return backup ? backup->record.esn : 0;
}

class RunFolderCli : public FwupgradeCli {
protected:
    // Stops the card and checks it runs the package with its own data. A
    // card whose programmer was killed mid-block has complained about it.
    void ExpectFlashedWithOwnData(CardProcess& card, const std::string& what, bool killedMidway = false) const {
        sim::CardData data;
        bool newFirmware = false;
        size_t violations = 0;
        std::string error;
        ASSERT_TRUE(card.Stop(data, newFirmware, violations, error)) << what << ": " << error;
        EXPECT_TRUE(newFirmware) << what;
        if (!killedMidway) {
            EXPECT_EQ(violations, 0u) << what;
        }
        const sim::FlashCheck check = sim::CheckFlashAgainstPackage(data, Package(), true);
        EXPECT_TRUE(check.ok) << what << ": " << (check.problems.empty() ? "" : check.problems.front());
        ExpectOwnData(data, true);
    }

    // Stops the card and checks it never left its firmware and kept its data.
    void ExpectUntouched(CardProcess& card, const std::string& name) const {
        sim::CardData data;
        bool newFirmware = true;
        size_t violations = 0;
        std::string error;
        ASSERT_TRUE(card.Stop(data, newFirmware, violations, error)) << error;
        EXPECT_FALSE(newFirmware);
        std::ifstream in(temp_ / (name + "-state.json"));
        const nlohmann::json state = nlohmann::json::parse(in, nullptr, false);
        // The look at the card after a failure sends requests its firmware
        // answers with errors by design: those are its only complaints.
        for (const auto& violation : state["violations"]) EXPECT_EQ(violation["mode"], "diag");
        EXPECT_EQ(state["mode_changes"], 0);
        // A Q7k card has item 96 cleared while the run prepares, as every run does.
        ExpectOwnData(data, true);
    }

    // The program with `folder` read-only: for root, whom no permission
    // stops, a read-only bind mount in a mount namespace of its own; for
    // anyone else the folder's write permission is taken away. Nothing when
    // neither can be had here.
    std::optional<ProcessOutcome> FwupgradeWithReadOnly(const std::string& folder, std::vector<std::string> args) const {
        args.insert(args.begin(), FWUPGRADE_EXE);
        if (::geteuid() != 0) {
            ::chmod(folder.c_str(), 0555);
            ProcessOutcome outcome = testing::RunProcess(args, RunFolder(), RunEnvironment(), kTimeout);
            ::chmod(folder.c_str(), 0755);
            return outcome;
        }
        const std::string unshare = Which("unshare");
        const std::string sh = Which("sh");
        if (unshare.empty() || sh.empty()) return std::nullopt;
        if (testing::RunProcess({unshare, "-m", sh, "-c", "true"}, RunFolder(), {}, kTimeout).exitStatus != 0)
            return std::nullopt;
        args.insert(args.begin(), {unshare, "-m", "--propagation", "private", "--", "sh", "-c",
                                   "mount --bind \"$1\" \"$1\" && mount -o remount,bind,ro \"$1\" && shift && exec \"$@\"",
                                   "sh", folder});
        return testing::RunProcess(args, RunFolder(), RunEnvironment(), kTimeout);
    }

    std::string OtherCardProfile() const {
        sim::CardData other = sim::DefaultCardData();
        other.esn = kOtherEsn;
        const std::string path = temp_ / "other-card.json";
        std::ofstream(path) << sim::CardDataToJson(other).dump();
        return path;
    }
};

TEST_F(RunFolderCli, TwoCardsFromOnePackageFolderAtOnceBothSucceedWithTheirOwnBackups) {
    CardProcess first, second;
    const std::string firstLink = StartCard(first, "card0");
    const std::string secondLink = StartCard(second, "card1", {"--profile", OtherCardProfile()});
    auto firstRun = Start({"upgrade", "--device", firstLink, "--package", Package()});
    // The first run holds the package folder once it talks to its card.
    ASSERT_TRUE(firstRun->WaitForLine(ProgressAtLeast(3), kTimeout)) << firstRun->Out();
    auto secondRun = Start({"upgrade", "--device", secondLink, "--package", Package()});
    const ProcessOutcome a = firstRun->Wait(kTimeout);
    const ProcessOutcome b = secondRun->Wait(kTimeout);
    EXPECT_EQ(a.exitStatus, 0) << a.out << a.err;
    EXPECT_EQ(b.exitStatus, 0) << b.out << b.err;

    // The lone run worked in place; the second in its own folder.
    EXPECT_EQ(RunFolderOf(a.out), "") << a.out;
    const std::string folder = RunFolderOf(b.out);
    ASSERT_EQ(folder.rfind(StateHome() + "/fwupgrade/runs/", 0), 0u) << b.out;
    EXPECT_NE(b.out.find("another fwupgrade run is using " + Package()), std::string::npos) << b.out;
    EXPECT_EQ(EsnOfBackupIn(Package()), 0x8012A5C3u);
    EXPECT_EQ(EsnOfBackupIn(folder), kOtherEsn);
    EXPECT_TRUE(fs::exists(RunFolder() + "/VEKLock_1"));
    EXPECT_TRUE(fs::exists(folder + "/VEKLock_1"));
    // The run folder reaches the images through links, no copies.
    EXPECT_TRUE(fs::is_symlink(folder + "/system.img"));

    ExpectFlashedWithOwnData(first, firstLink);
    ExpectFlashedWithOwnData(second, secondLink);
}

TEST_F(RunFolderCli, AReadOnlyPackageFolderIsFlashedFromWithNothingWrittenIntoIt) {
    CardProcess card;
    const std::string link = StartCard(card, "card0");
    const std::vector<std::string> before = Names(Package());
    const auto run = FwupgradeWithReadOnly(Package(), {"upgrade", "--device", link, "--package", Package()});
    if (!run) GTEST_SKIP() << "no read-only folder can be had here (root without mount namespaces)";
    EXPECT_EQ(run->exitStatus, 0) << run->out << run->err;
    const std::string folder = RunFolderOf(run->out);
    ASSERT_FALSE(folder.empty()) << run->out;
    const std::string why = ::geteuid() == 0 ? "the folder is on a read-only file system" : "no permission to write there";
    EXPECT_NE(run->out.find("the package folder " + Package() + " cannot be written: " + why), std::string::npos)
        << run->out;
    EXPECT_NE(run->out.find("  NV backup:   " + folder + "/channel.nvm\n"), std::string::npos) << run->out;
    EXPECT_EQ(run->out.find("cannot create"), std::string::npos) << run->out;
    EXPECT_EQ(Names(Package()), before);
    EXPECT_EQ(EsnOfBackupIn(folder), 0x8012A5C3u);
    ExpectFlashedWithOwnData(card, link);
}

TEST_F(RunFolderCli, AKeptCopyThatCannotBeWrittenStopsTheRunBeforeTheSwitchAndNamesTheFolder) {
    CardProcess card;
    const std::string link = StartCard(card, "card0");
    const std::string data = temp_ / "data";
    fs::create_directories(data + "/fwupgrade/backups");
    const auto run = FwupgradeWithReadOnly(data, {"upgrade", "--device", link, "--package", Package(), "--json"});
    if (!run) GTEST_SKIP() << "no read-only folder can be had here (root without mount namespaces)";
    EXPECT_EQ(run->exitStatus, 4) << run->out << run->err;
    nlohmann::json result;
    for (const auto& line : Lines(run->out)) {
        const nlohmann::json event = nlohmann::json::parse(line, nullptr, false);
        if (event.is_object() && event.value("event", "") == "result") result = event;
    }
    ASSERT_TRUE(result.is_object()) << run->out;
    const std::string kept = data + "/fwupgrade/backups/8012A5C3";
    EXPECT_EQ(result["card_unchanged"], true);
    EXPECT_EQ(result["write_problem"]["folder"], kept);
    EXPECT_EQ(result["write_problem"]["reason"], ::geteuid() == 0 ? "read-only" : "permission");
    EXPECT_EQ(result["write_problem"]["errno"], ::geteuid() == 0 ? EROFS : EACCES);
    const std::string headline = result["headline"];
    EXPECT_NE(headline.find(kept + " cannot take a copy of its backup"), std::string::npos) << headline;
    EXPECT_NE(headline.find("The card is unchanged."), std::string::npos) << headline;
    EXPECT_EQ(result["rescue"], "");
    ExpectUntouched(card, "card0");
}

TEST_F(RunFolderCli, ARunKilledBeforeTheSwitchStaysInTheHistoryAndTheNextRunNamesIt) {
    CardProcess card;
    const std::string link = StartCard(card, "card0");
    auto killed = Start({"upgrade", "--device", link, "--package", Package()});
    ASSERT_TRUE(killed->WaitForLine(ProgressAtLeast(3), kTimeout)) << killed->Out();
    killed->Signal(SIGKILL);
    killed->Wait(kTimeout);

    const nlohmann::json before = nlohmann::json::parse(Fwupgrade({"history", "--json"}).out);
    ASSERT_EQ(before.size(), 1u);
    EXPECT_EQ(before[0]["result"], "unfinished");
    EXPECT_NE(Fwupgrade({"history"}).out.find("upgrade unfinished"), std::string::npos);

    const ProcessOutcome again = Fwupgrade({"upgrade", "--device", link, "--package", Package()});
    EXPECT_EQ(again.exitStatus, 0) << again.out << again.err;
    const std::string said = "An earlier run on this card never finished: fwupgrade upgrade --device " + link;
    EXPECT_NE(again.out.find(said), std::string::npos) << again.out;
    EXPECT_NE(again.out.find("started " + before[0]["time"].get<std::string>()), std::string::npos) << again.out;

    // Told once: a run after it says nothing more.
    const nlohmann::json after = nlohmann::json::parse(Fwupgrade({"history", "--json"}).out);
    ASSERT_EQ(after.size(), 2u);
    EXPECT_EQ(after[0]["result"], "ok");
    EXPECT_EQ(after[1]["result"], "unfinished");
    ExpectFlashedWithOwnData(card, link);
}

TEST_F(RunFolderCli, ACardKilledWhileFlashedFromARunFolderIsRescuedFromThatFolder) {
    // Another run holds the package folder for the whole test.
    RunLock other;
    std::string error;
    ASSERT_TRUE(other.Acquire({Package()}, error)) << error;
    CardProcess card;
    const std::string link = StartCard(card, "card0");
    auto killed = Start({"upgrade", "--device", link, "--package", Package()});
    ASSERT_TRUE(killed->WaitForLine(ProgressAtLeast(35), kTimeout)) << killed->Out();
    killed->Signal(SIGKILL);
    killed->Wait(kTimeout);
    const std::vector<std::string> runs = Names(StateHome() + "/fwupgrade/runs");
    ASSERT_EQ(runs.size(), 1u);
    const std::string folder = StateHome() + "/fwupgrade/runs/" + runs[0];

    const ProcessOutcome rescued = Fwupgrade({"rescue", "--device", link, "--package", folder});
    EXPECT_EQ(rescued.exitStatus, 0) << rescued.out << rescued.err;
    EXPECT_NE(rescued.out.find("An earlier run on this card never finished"), std::string::npos) << rescued.out;
    EXPECT_NE(rescued.out.find("  lock backup: " + folder + "/VEKLock_1"), std::string::npos) << rescued.out;
    EXPECT_FALSE(fs::exists(Package() + "/channel.nvm"));
    ExpectFlashedWithOwnData(card, link, true);
}

TEST_F(RunFolderCli, ACardKilledUnderOneNameIsKnownByItsEsnUnderAnother) {
    CardProcess card;
    const std::string link = StartCard(card, "card0");
    auto killed = Start({"upgrade", "--device", link, "--package", Package()});
    ASSERT_TRUE(killed->WaitForLine(ProgressAtLeast(35), kTimeout)) << killed->Out();
    killed->Signal(SIGKILL);
    killed->Wait(kTimeout);
    sim::CardData data;
    bool newFirmware = false;
    size_t violations = 0;
    std::string error;
    ASSERT_TRUE(card.Stop(data, newFirmware, violations, error)) << error;

    // The same card comes back under another name, as it was left.
    const std::string again = StartCard(card, "card1", {"--profile", temp_ / "card0-state.json"});
    const ProcessOutcome rescued = Fwupgrade({"rescue", "--device", again, "--package", Package()});
    EXPECT_EQ(rescued.exitStatus, 0) << rescued.out << rescued.err;
    EXPECT_NE(rescued.out.find("An earlier run on this card never finished: fwupgrade upgrade --device " + link),
              std::string::npos)
        << rescued.out;
    ExpectFlashedWithOwnData(card, again, true);
}

}  // namespace
}  // namespace fwupgrade

// The built fwupgrade stopped, hung up on and orphaned while it flashes
// virtual cards, and the history it keeps of those runs.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <chrono>
#include <csignal>
#include <thread>

#include <nlohmann/json.hpp>

#include "CliFixture.h"

namespace fwupgrade {
namespace {

// A plain progress line ("45%") at or above `percent`.
auto ProgressAtLeast(int percent) {
    return [percent](const std::string& line) {
        const std::vector<int> value = Percentages(line + "\n");
        return !value.empty() && value.front() >= percent;
    };
}

auto Contains(const std::string& text) {
    return [text](const std::string& line) { return line.find(text) != std::string::npos; };
}

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
    const auto history = JsonLines(StateHome() + "/fwupgrade/history.jsonl");
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
    EXPECT_NE(interrupted.out.find("still runs its flash programmer: unplug it and plug it back in"),
              std::string::npos)
        << interrupted.out;

    const ProcessOutcome listed = Fwupgrade({"history", "--json"});
    ASSERT_EQ(listed.exitStatus, 0) << listed.err;
    const nlohmann::json entries = nlohmann::json::parse(listed.out);
    ASSERT_EQ(entries.size(), 2u) << listed.out;
    EXPECT_EQ(entries[0]["device"], stoppedLink);
    EXPECT_EQ(entries[0]["result"], "interrupted");
    EXPECT_FALSE(entries[0]["failed_step"].get<std::string>().empty()) << entries[0];
    EXPECT_EQ(entries[1]["device"], finishingLink);
    EXPECT_EQ(entries[1]["result"], "ok");
    EXPECT_EQ(entries[1]["command"], "fwupgrade upgrade --device " + finishingLink + " --package " + Package());
    EXPECT_EQ(entries[1]["version_before"], "LUM_Q7KV1.0.0B05");
    EXPECT_EQ(entries[1]["package_digest"].get<std::string>().size(), std::string("sha256:").size() + 64);
    std::vector<std::string> phases;
    for (const auto& phase : entries[1]["phases"]) phases.push_back(phase["phase"]);
    EXPECT_EQ(phases, (std::vector<std::string>{"prepare", "backup", "switch", "images", "reset", "restore"}));

    const ProcessOutcome text = Fwupgrade({"history"});
    const auto lines = Lines(text.out);
    ASSERT_EQ(lines.size(), 4u) << text.out;
    EXPECT_NE(lines[0].find("  interrupted ("), std::string::npos) << lines[0];
    EXPECT_NE(lines[2].find("  ok  " + finishingLink + "  LUM_Q7KV1.0.0B05 -> ?  " + Package()), std::string::npos)
        << lines[2];
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
    EXPECT_EQ(JsonLines(StateHome() + "/fwupgrade/history.jsonl").size(), 2u);
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

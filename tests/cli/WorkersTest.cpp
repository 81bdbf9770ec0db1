#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <map>

#include "host/fwupgrade/package/PackageCheck.h"
#include "host/fwupgrade/run/Workers.h"
#include "tests/support/TempFolder.h"

namespace fwupgrade {
namespace {

using test_support::TempFolder;
namespace fs = std::filesystem;

// A stand-in worker: a script that behaves per device name and records the
// folder and arguments it was started with.
std::string WriteWorker(const TempFolder& folder) {
    const std::string path = folder / "worker.sh";
    std::ofstream(path) << R"(#!/bin/sh
device="$4"
package="$6"
pwd > started-in
echo "$@" > arguments
case "$device" in
  *good*)
    echo '{"event":"progress","percent":0}'
    echo 'not json at all'
    echo '{"event":"progress","percent":40}'
    echo '{"event":"progress","percent":100}'
    echo '{"event":"result","device":"'"$device"'","code":0,"exit":0,"headline":"flashed","lock_backup":"'"$PWD"'/VEKLock_1","lock_backup_written":true}'
    ;;
  *failing*)
    echo '{"event":"progress","percent":7}'
    echo '{"event":"result","device":"'"$device"'","code":-13314,"exit":4,"headline":"The upgrade failed while opening the serial port."}'
    exit 4
    ;;
  *)
    echo '{"event":"progress","percent":3}'
    echo 'gone' >&2
    exit 9
    ;;
esac
)";
    ::chmod(path.c_str(), 0755);
    return path;
}

TEST(Workers, EachCardRunsInItsOwnFolderAndReportsThroughEvents) {
    TempFolder temp;
    fs::create_directories(temp / "package");
    for (const auto& file : PackageFiles()) temp.Fill("package/" + std::string(file.name), 4);
    WorkerPlan plan;
    plan.executable = WriteWorker(temp);
    plan.devices = {temp / "good-card", temp / "failing-card", temp / "crashing-card"};
    plan.package = temp / "package";
    plan.workRoot = temp / "cards";

    std::map<size_t, std::vector<int>> progress;
    std::map<size_t, int> finished;
    WorkerEvents events;
    events.progress = [&](size_t card, int percent) { progress[card].push_back(percent); };
    events.finished = [&](size_t card, const RunResult& result) { finished[card] = result.exitStatus; };
    const std::vector<RunResult> results = RunWorkers(plan, events);

    ASSERT_EQ(results.size(), 3u);
    EXPECT_EQ(progress[0], (std::vector<int>{0, 40, 100}));
    EXPECT_EQ(progress[1], (std::vector<int>{7}));
    EXPECT_EQ(finished, (std::map<size_t, int>{{0, 0}, {1, 4}, {2, 1}}));

    EXPECT_EQ(results[0].exitStatus, 0);
    EXPECT_EQ(results[0].headline, "flashed");
    EXPECT_EQ(results[0].folder, temp / "cards/card0");
    EXPECT_EQ(results[1].exitStatus, 4);
    EXPECT_EQ(results[1].code, -13314);
    // A worker that ended without a result is reported, not lost.
    EXPECT_EQ(results[2].exitStatus, 1);
    EXPECT_NE(results[2].headline.find("status 9"), std::string::npos) << results[2].headline;

    for (int card = 0; card < 3; ++card) {
        const std::string folder = temp / ("cards/card" + std::to_string(card));
        std::ifstream startedIn(folder + "/started-in");
        std::string cwd;
        std::getline(startedIn, cwd);
        EXPECT_EQ(fs::canonical(cwd), fs::canonical(folder));
        std::ifstream arguments(folder + "/arguments");
        std::string line;
        std::getline(arguments, line);
        EXPECT_EQ(line, "upgrade --json --device " + plan.devices[card] + " --package " + folder +
                            "/package --log " + folder + "/fwupgrade.log");
    }
    std::ifstream err(temp / "cards/card2/worker.err");
    std::string text;
    std::getline(err, text);
    EXPECT_EQ(text, "gone");
}

TEST(Workers, ThePlugInOfTheRunIsHandedOn) {
    TempFolder temp;
    WorkerPlan plan;
    plan.executable = WriteWorker(temp);
    plan.devices = {temp / "good-card"};
    plan.package = temp / "package";
    plan.workRoot = temp / "cards";
    plan.pluginPath = temp / "my-plugin.so";
    RunWorkers(plan, {});
    std::ifstream arguments(temp / "cards/card0/arguments");
    std::string line;
    std::getline(arguments, line);
    EXPECT_NE(line.find(" --plugin " + plan.pluginPath), std::string::npos) << line;
}

TEST(Workers, AProgramThatCannotStartIsReportedPerCard) {
    TempFolder temp;
    WorkerPlan plan;
    plan.executable = temp / "no-such-program";
    plan.devices = {"/dev/a", "/dev/b"};
    plan.package = temp / "package";
    plan.workRoot = temp / "cards";
    const std::vector<RunResult> results = RunWorkers(plan, {});
    ASSERT_EQ(results.size(), 2u);
    for (const auto& result : results) {
        EXPECT_EQ(result.exitStatus, 1);
        EXPECT_NE(result.headline.find("127"), std::string::npos) << result.headline;
    }
}

TEST(Workers, AStoppedCardDecidesTheRunsStatusThenAFailedOne) {
    auto results = [](std::vector<int> statuses) {
        std::vector<RunResult> list;
        for (int status : statuses) list.emplace_back().exitStatus = status;
        return list;
    };
    EXPECT_EQ(WorstExitStatus(results({0, 0})), 0);
    EXPECT_EQ(WorstExitStatus(results({1, 0, 2})), 1);
    EXPECT_EQ(WorstExitStatus(results({1, 4, 0})), 4);
    EXPECT_EQ(WorstExitStatus(results({4, 130, 1})), 130);
}

TEST(Workers, AWorkersLossesAndRescueReachTheParentAndItsSummary) {
    RunResult sent;
    sent.device = "/dev/ttyUSB1";
    sent.exitStatus = 130;
    sent.headline = "Stopped.";
    sent.losses = {"The Wi-Fi address could not be written back to the card."};
    sent.leftInProgrammer = true;
    sent.rescueCommand = "fwupgrade rescue --device /dev/ttyUSB1 --package /p";
    sent.stepLine = "the step";
    const RunResult got = RunResultFromJson(nlohmann::json::parse(ResultEvent(sent)));
    EXPECT_EQ(got.losses, sent.losses);
    EXPECT_TRUE(got.leftInProgrammer);
    EXPECT_EQ(got.rescueCommand, sent.rescueCommand);
    const std::string summary = SummaryText(got);
    EXPECT_NE(summary.find("  lost:        The Wi-Fi address"), std::string::npos) << summary;
    EXPECT_NE(summary.find("unplug it and plug it back in"), std::string::npos) << summary;
    EXPECT_NE(summary.find("  To rescue the card run: " + sent.rescueCommand), std::string::npos) << summary;
    // The failing step stays the last line.
    EXPECT_EQ(summary.substr(summary.size() - 19), "  step:   the step\n");
}

}  // namespace
}  // namespace fwupgrade

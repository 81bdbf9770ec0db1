// A recorded run's progress events: what they say the run does, in order,
// and how well the time they say is left matches the time it took.
#include <gtest/gtest.h>

#include <cmath>

#include <nlohmann/json.hpp>

#include "CliFixture.h"

namespace fwupgrade {
namespace {

TEST_F(FwupgradeCli, ProgressSaysWhatTheRunDoesAndHowLongItStillTakes) {
    CardProcess card;
    const std::string link = StartCard(card, "card0");
    const ProcessOutcome run = Fwupgrade({"upgrade", "--device", link, "--package", Package(), "--json"});
    ASSERT_EQ(run.exitStatus, 0) << run.out << run.err;
    std::vector<nlohmann::json> events;
    std::vector<std::string> stepEvents;
    for (const auto& line : Lines(run.out)) {
        const auto event = nlohmann::json::parse(line);
        if (event["event"] == "progress") events.push_back(event);
        if (event["event"] == "step") stepEvents.push_back(event["step"]);
    }
    ASSERT_GT(events.size(), 10u);
    EXPECT_EQ(stepEvents, (std::vector<std::string>{"prepare", "backup", "switch", "images", "reset", "restore"}));

    // What the bar says, in the order the run does it.
    std::vector<std::string> steps;
    for (const auto& event : events)
        if (steps.empty() || steps.back() != event["step"]) steps.push_back(event["step"]);
    const std::vector<std::string> expected = {
        "checking the package and identifying the card",
        "switching the card to its boot downloader and starting the flash programmer",
        "writing system.img",
        "restarting the card into its new firmware",
        "writing the card's data back",
        "done"};
    size_t at = 0;
    for (const auto& step : steps)
        if (at < expected.size() && step == expected[at]) ++at;
    EXPECT_EQ(at, expected.size()) << ::testing::PrintToString(steps);

    EXPECT_EQ(events.back()["left"].get<double>(), 0.0);
    for (size_t i = 1; i < events.size(); ++i)
        EXPECT_GE(events[i]["elapsed"].get<double>(), events[i - 1]["elapsed"].get<double>());
#if !defined(__SANITIZE_ADDRESS__)
    // After the first tenth of the run, while a tenth is still ahead: the
    // estimate within 20% of the time the run really took from there. (A
    // sanitized build spends far more of its own time than a run does.)
    const double total = events.back()["elapsed"].get<double>();
    for (const auto& event : events) {
        const double elapsed = event["elapsed"].get<double>();
        const double really = total - elapsed;
        if (elapsed < 0.1 * total || really < 0.1 * total) continue;
        EXPECT_NEAR(event["left"].get<double>(), really, 0.2 * really) << event.dump();
    }
#endif
}

}  // namespace
}  // namespace fwupgrade

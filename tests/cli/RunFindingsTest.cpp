// What a run's events tell beyond its result, in sentences.
#include <gtest/gtest.h>

#include "host/fwupgrade/report/RunFindings.h"

namespace fwupgrade {
namespace {

CardLoss Loss(int32_t kind, int32_t reason, uint32_t item = 0, uint32_t status = 0, std::string lockFile = {}) {
    return CardLoss{kind, reason, item, status, std::move(lockFile)};
}

TEST(RunFindings, TheStepsTellWhetherTheCardWasRestartedAndTheOutcomeItsVersion) {
    FindingsTracker tracker;
    for (int32_t step : {FWUP_STEP_PREPARE, FWUP_STEP_BACKUP, FWUP_STEP_SWITCH, FWUP_STEP_IMAGES})
        tracker.OnStep(step);
    EXPECT_FALSE(tracker.Findings().resetReached);
    EXPECT_EQ(tracker.Findings().step, FWUP_STEP_IMAGES);
    tracker.OnStep(FWUP_STEP_RESET);
    EXPECT_TRUE(tracker.Findings().resetReached);
    CardOutcome outcome;
    outcome.softwareVersion = "LUM_Q7KV1.0.0B05";
    tracker.OnOutcome(outcome);
    EXPECT_EQ(tracker.Findings().softwareVersion, "LUM_Q7KV1.0.0B05");
    EXPECT_TRUE(tracker.Findings().losses.empty());
}

TEST(RunFindings, EveryLossIsNamedOnceAndItemsNeverTriedAreCounted) {
    FindingsTracker tracker;
    tracker.OnLoss(Loss(FWUP_LOSS_WIFI_ADDRESS, FWUP_LOSS_UNSUPPORTED));
    tracker.OnLoss(Loss(FWUP_LOSS_WIFI_ADDRESS, FWUP_LOSS_UNSUPPORTED));
    tracker.OnLoss(Loss(FWUP_LOSS_NV_ITEM, FWUP_LOSS_KEPT_BY_CARD, 1720, 5));
    tracker.OnLoss(Loss(FWUP_LOSS_NV_ITEM, FWUP_LOSS_REFUSED_BY_CARD, 453, 2));
    for (uint32_t item : {10u, 11u, 12u}) tracker.OnLoss(Loss(FWUP_LOSS_NV_ITEM, FWUP_LOSS_NOT_TRIED, item, 0xFFFF));
    tracker.OnLoss(Loss(FWUP_LOSS_LOCK_FILE, FWUP_LOSS_REFUSED_BY_CARD, 0, 0, "/vek/VEKLock_1"));
    const std::vector<std::string>& losses = tracker.Findings().losses;
    ASSERT_EQ(losses.size(), 4u);
    EXPECT_NE(losses[0].find("cannot report its Wi-Fi address"), std::string::npos);
    EXPECT_EQ(losses[1], "NV item 453 was not written back: the card refused it (status 2).");
    EXPECT_EQ(losses[2], "3 NV items were not written back: the restore stopped before them.");
    EXPECT_NE(losses[3].find("/vek/VEKLock_1 could not be restored"), std::string::npos);
}

TEST(RunFindings, EachLossHasItsSentence) {
    EXPECT_EQ(LossSentence(Loss(FWUP_LOSS_NV_ITEM, FWUP_LOSS_KEPT_BY_CARD, 1720, 7)), "");
    EXPECT_NE(LossSentence(Loss(FWUP_LOSS_WIFI_ADDRESS, FWUP_LOSS_NOT_SAVED)).find("could not be read before the flash"),
              std::string::npos);
    EXPECT_EQ(LossSentence(Loss(FWUP_LOSS_WIFI_ADDRESS, FWUP_LOSS_REFUSED_BY_CARD)),
              "The Wi-Fi address could not be written back to the card.");
    EXPECT_NE(LossSentence(Loss(FWUP_LOSS_WIFI_ADDRESS, FWUP_LOSS_NOT_TRIED)).find("stopped before it"),
              std::string::npos);
    EXPECT_NE(LossSentence(Loss(FWUP_LOSS_LOCK_FILE, FWUP_LOSS_NOT_TRIED, 0, 0, "/vek/a")).find("/vek/a was not written"),
              std::string::npos);
}

}  // namespace
}  // namespace fwupgrade

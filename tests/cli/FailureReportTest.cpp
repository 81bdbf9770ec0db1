// A failed operation in words, from the outcome the plug-in reports.
#include <gtest/gtest.h>

#include "host/fwupgrade/report/EventWords.h"
#include "host/fwupgrade/report/FailureReport.h"

namespace fwupgrade {
namespace {

CardOutcome Failed(int32_t step, int32_t reason) {
    CardOutcome outcome;
    outcome.reported = true;
    outcome.result = -13314;
    outcome.failedStep = step;
    outcome.reason = reason;
    return outcome;
}

TEST(FailureReport, ExitStatusFollowsTheResultCode) {
    EXPECT_EQ(ExitStatusFor(0), kExitOk);
    EXPECT_EQ(ExitStatusFor(-13313), kExitRejected);
    EXPECT_EQ(ExitStatusFor(-13314), kExitFailed);
    EXPECT_EQ(ExitStatusFor(-1), kExitOther);
}

TEST(FailureReport, TheStepAndTheReasonAreWordsOfTheOutcome) {
    const CardOutcome outcome = Failed(FWUP_STEP_IMAGES, FWUP_REASON_NO_ANSWER);
    const FailureSummary summary = SummarizeOutcome(-13314, &outcome, "upgrade");
    EXPECT_EQ(summary.headline,
              "The upgrade failed while writing the partition table and the images: the card did not answer.");
    EXPECT_EQ(summary.step, "writing the partition table and the images");
    EXPECT_EQ(summary.reason, "the card did not answer");

    const CardOutcome rescue = Failed(FWUP_STEP_PREPARE, FWUP_REASON_NO_BACKUP);
    EXPECT_EQ(SummarizeOutcome(-13314, &rescue, "rescue").headline,
              "The rescue failed while checking the package and identifying the card: there is no usable backup of "
              "the card's data.");
}

TEST(FailureReport, EveryStepAndReasonHasWordsOfItsOwn) {
    std::vector<std::string> seen;
    for (int32_t step = FWUP_STEP_PREPARE; step <= FWUP_STEP_RESTORE; ++step) seen.push_back(StepWords(step));
    for (int32_t reason = FWUP_REASON_NO_ANSWER; reason <= FWUP_REASON_CARD_STATE; ++reason)
        seen.push_back(ReasonWords(reason));
    for (size_t i = 0; i < seen.size(); ++i)
        for (size_t j = i + 1; j < seen.size(); ++j) EXPECT_NE(seen[i], seen[j]);
    EXPECT_EQ(StepWords(99), "an unknown step");
    EXPECT_EQ(ReasonWords(99), "an unknown reason");
}

TEST(FailureReport, WithoutAnOutcomeOnlyTheCodeIsKnown) {
    EXPECT_EQ(SummarizeOutcome(-13314, nullptr, "upgrade").headline, "The upgrade failed.");
    EXPECT_EQ(SummarizeOutcome(-13313, nullptr, "upgrade").headline,
              "The package was rejected by the module's file check.");
    EXPECT_NE(SummarizeOutcome(-7, nullptr, "upgrade").headline.find("-7"), std::string::npos);
}

}  // namespace
}  // namespace fwupgrade

#include <gtest/gtest.h>

#include <vector>

#include "upgrade/flashing/StreamProgress.h"

using upgrade::StreamProgress;

namespace {

// First acknowledgement report of every block.
std::vector<int> FirstReports(int from, int to, uint32_t blocks) {
    StreamProgress progress(from, to, blocks);
    std::vector<int> out;
    for (uint32_t i = 0; i < blocks; ++i) {
        int current = progress.BlockStart(i);
        out.push_back(StreamProgress::AckReport(progress.NextAckLow(current)));
    }
    return out;
}

}  // namespace

TEST(StreamProgress, ThreeBlockSystemImage) {
    StreamProgress progress(28, 90, 3);
    EXPECT_EQ(progress.StepA(), 6);
    EXPECT_EQ(progress.StepB(), 14);
    EXPECT_EQ(FirstReports(28, 90, 3), (std::vector<int>{35, 55, 76}));
}

TEST(StreamProgress, OneBlockInANarrowRangeReportsTheRangeEnd) {
    EXPECT_EQ(FirstReports(13, 14, 1), (std::vector<int>{14}));
    EXPECT_EQ(FirstReports(26, 28, 1), (std::vector<int>{28}));
}

TEST(StreamProgress, ManyBlocksNeverLeaveTheRangeAndNeverGoBack) {
    for (uint32_t blocks : {1u, 2u, 7u, 64u, 1000u}) {
        const std::vector<int> reports = FirstReports(28, 90, blocks);
        for (size_t i = 0; i < reports.size(); ++i) {
            EXPECT_GT(reports[i], 28);
            EXPECT_LE(reports[i], 90);
            if (i > 0) {
                EXPECT_GE(reports[i], reports[i - 1]);
            }
        }
    }
}

TEST(StreamProgress, EachResendReportsAStepHigherButStaysInRange) {
    StreamProgress progress(28, 90, 3);
    int current = progress.BlockStart(0);
    EXPECT_EQ(progress.NextAckLow(current), 34);
    EXPECT_EQ(progress.NextAckLow(current), 48);
    EXPECT_EQ(progress.NextAckLow(current), 62);
    EXPECT_EQ(progress.NextAckLow(current), 76);
    EXPECT_EQ(progress.NextAckLow(current), 89);
    EXPECT_EQ(progress.NextAckLow(current), 89) << "a block resent again and again stops at the image's end";

    StreamProgress narrow(13, 14, 1);
    int low = narrow.BlockStart(0);
    EXPECT_EQ(narrow.NextAckLow(low), 13);
    EXPECT_EQ(narrow.NextAckLow(low), 13) << "without a step the resend reports the same value";
}

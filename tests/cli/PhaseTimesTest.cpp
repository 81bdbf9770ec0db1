#include <gtest/gtest.h>

#include "host/fwupgrade/report/PhaseTimes.h"

namespace fwupgrade {
namespace {

using std::chrono::seconds;
using Phases = std::vector<std::pair<std::string, double>>;

TEST(PhaseTimes, EachPhaseRunsFromItsFirstValueToTheNextPhase) {
    const PhaseTimes::Clock::time_point start{};
    PhaseTimes times(start);
    times.Progress(1, start + seconds(1));
    times.Progress(3, start + seconds(2));
    times.Progress(6, start + seconds(4));
    times.Progress(7, start + seconds(5));
    times.Progress(10, start + seconds(7));
    times.Progress(97, start + seconds(20));
    // Without a new layout the run goes from 97 to 100: no reset, no restore.
    times.Progress(100, start + seconds(21));
    EXPECT_EQ(times.Durations(start + seconds(22)),
              (Phases{{"prepare", 2}, {"backup", 2}, {"switch", 3}, {"images", 15}}));
}

TEST(PhaseTimes, ALowerValueAfterAHigherOneStartsNoPhase) {
    const PhaseTimes::Clock::time_point start{};
    PhaseTimes times(start);
    times.Progress(99, start + seconds(3));
    times.Progress(6, start + seconds(4));
    EXPECT_EQ(times.Durations(start + seconds(5)), (Phases{{"prepare", 3}, {"restore", 2}}));
}

}  // namespace
}  // namespace fwupgrade

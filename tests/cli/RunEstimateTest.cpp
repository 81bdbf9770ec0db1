// The words the bar shows and the time it says is left: the pause table
// against the pauses the module really asks for, and the estimate of a run
// whose phases and images come at known times.
#include <stdlib.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <filesystem>

#include "tests/support/TempFolder.h"
#include "upgrade/run/UpgradeModule.h"
#include "host/fwupgrade/report/EventWords.h"
#include "host/fwupgrade/report/PhaseTimes.h"
#include "host/fwupgrade/report/RunEstimate.h"
#include "tests/support/TestClocks.h"
#include "sim/frontends/InProcessPort.h"
#include "sim/frontends/PackageMaker.h"

namespace fwupgrade {
namespace {

namespace fs = std::filesystem;

// Virtual time that books every pause to the phase the run is in.
class PhaseBookingClock final : public platform::Clock {
public:
    uint32_t TickCount() override { return inner_.TickCount(); }
    bool Now(platform::LocalTime& out) override { return inner_.Now(out); }
    void Sleep(uint32_t milliseconds) override {
        booked_[PhaseOf(percent_.load())] += milliseconds / 1000.0;
        inner_.Sleep(milliseconds);
    }
    std::atomic<int> percent_{0};
    double booked_[kPhaseCount] = {};

private:
    platform::RecordingClock inner_;
};

TEST(RunEstimate, ThePauseTableIsWhatTheModuleAsksForInAWholeUpgrade) {
    test_support::TempFolder work;
    const fs::path previous = fs::current_path();
    fs::current_path(work.path());
    ASSERT_EQ(::setenv("XDG_DATA_HOME", (work / "data").c_str(), 1), 0);
    std::string error;
    ASSERT_TRUE(sim::MakePackage(work / "package", {}, error)) << error;
    PhaseBookingClock clock;
    sim::InProcessPortOpener opener;
    opener.Attach(7, sim::MakeCard());
    platform::SetClock(&clock);
    platform::SetComPortOpener(&opener);
    int32_t result = -1;
    (void)upgrade::UpgradeModule::ExtractProgrammer();   // a missing programmer fails the run measured
    {
        upgrade::UpgradeModule module([&](int percent) { clock.percent_ = std::max(clock.percent_.load(), percent); });
        result = module.FirmWareUpgrade(7, platform::Utf8ToWide(work / "package"));
    }
    platform::SetComPortOpener(nullptr);
    platform::SetClock(nullptr);
    fs::current_path(previous);
    ASSERT_EQ(result, 0);
    for (size_t phase = 0; phase < kPhaseCount; ++phase)
        EXPECT_NEAR(PhasePauseSeconds(phase), clock.booked_[phase], 0.05) << PhaseName(phase);
}

TEST(RunEstimate, TheBarNamesTheStepAndWhileImagesStreamTheImage) {
    EXPECT_EQ(ActivityAt(FWUP_STEP_BACKUP, 3), "saving the card's data");
    EXPECT_EQ(ActivityAt(FWUP_STEP_RESET, 98), "restarting the card into its new firmware");
    EXPECT_EQ(ActivityAt(FWUP_STEP_IMAGES, 10), "writing the partition table and the boot loaders");
    EXPECT_EQ(ActivityAt(FWUP_STEP_IMAGES, 13), "writing oemsbl.mbn");
    EXPECT_EQ(ActivityAt(FWUP_STEP_IMAGES, 45), "writing system.img");
    EXPECT_EQ(ActivityAt(FWUP_STEP_IMAGES, 96), "writing cefs.mbn");
    EXPECT_EQ(ActivityAt(FWUP_STEP_IMAGES, 97), "writing the images");
}

TEST(RunEstimate, PausesAheadAndTheMeasuredRateMakeTheTimeLeft) {
    const std::map<std::string, uint64_t> sizes = {{"system.img", 62'000'000}, {"boot.img", 2'000'000}};
    RunEstimate estimate(sizes, 0.5);
    double pausesAfterSwitch = 0;   // the reset and the restore
    for (size_t phase = PhaseOf(6) + 1; phase < kPhaseCount; ++phase)
        if (phase != kImagesPhase) pausesAfterSwitch += ExpectedPhaseSeconds(phase, 0.5);
    estimate.Progress(6, 10.0);
    const double atSwitch = estimate.SecondsLeft(10.0);
    EXPECT_GT(atSwitch, pausesAfterSwitch + ExpectedPhaseSeconds(kImagesPhase, 0.5));
    // The switch's own pauses run down as it goes.
    EXPECT_NEAR(estimate.SecondsLeft(11.0), atSwitch - std::min(1.0, ExpectedPhaseSeconds(2, 0.5)), 1e-9);

    // boot.img (26..28) done and half of system.img (28..90) after 10 s of images:
    // 33 MB in 10 s, 31 MB to go at that rate.
    estimate.Progress(10, 20.0);
    EXPECT_FALSE(estimate.BytesPerSecond(20.5));
    estimate.Progress(59, 30.0);
    ASSERT_TRUE(estimate.BytesPerSecond(30.0));
    EXPECT_NEAR(*estimate.BytesPerSecond(30.0), 3.3e6, 1e3);
    EXPECT_NEAR(estimate.SecondsLeft(30.0), 31.0e6 / 3.3e6 + pausesAfterSwitch, 1e-3);
}

TEST(RunEstimate, TimesAndRatesReadAsPeopleWriteThem) {
    EXPECT_EQ(ClockText(0), "0:00");
    EXPECT_EQ(ClockText(65.4), "1:05");
    EXPECT_EQ(ClockText(3723), "1:02:03");
    EXPECT_EQ(RateText(310'000), "310 KB/s");
    EXPECT_EQ(RateText(2'450'000), "2.5 MB/s");
}

}  // namespace
}  // namespace fwupgrade

// The benchmark's own arithmetic: the run record survives the trip between
// processes, steps and phases are cut where the run says, and the figures
// and the timeline are drawn from them.
#include <gtest/gtest.h>

#include <regex>
#include <string>

#include "bench/run/Report.h"
#include "bench/run/RunRecord.h"
#include "bench/run/Timeline.h"

namespace runbench {
namespace {

RunEvent Step(double at, double cpu, std::string text) {
    RunEvent e;
    e.kind = EventKind::Step;
    e.atMs = at;
    e.cpuMs = cpu;
    e.text = std::move(text);
    return e;
}

RunEvent Pause(double at, double length) {
    RunEvent e;
    e.kind = EventKind::Pause;
    e.atMs = at;
    e.lengthMs = length;
    return e;
}

RunEvent Progress(double at, int percent) {
    RunEvent e;
    e.kind = EventKind::Progress;
    e.atMs = at;
    e.percent = percent;
    return e;
}

const char* kSystemStep =
    "Function: WindowsDownloadHS(pPacket, m_DownloadFileList.strSystemPath, 0x15, DLBOOTIMG, DLSYSTEMIMG)";

// A short run: backup, programmer, system.img, an erase, the reset.
RunRecord SampleRun() {
    RunRecord r;
    r.result = 0;
    r.wallMs = 10000;
    r.cpuMs = 120;
    r.pausesMs = 9000;
    r.systemBytes = 4000000;
    r.imageBytes = 5000000;
    r.peakResidentKiB = 6144;
    r.events = {Progress(0, 1),          Step(10, 1, "Function: Initialize"),  Progress(500, 3),
                Step(600, 5, "Function: BackupNVMOP"), Pause(700, 1000),     Progress(2000, 6),
                Step(2000, 20, "Function: SwitchToDownload"), Pause(2100, 5000), Progress(7200, 10),
                Step(7200, 30, kSystemStep),  Step(8200, 90, "Function: EraseSector misc.img"),
                Progress(9000, 98),       Step(9000, 95, "Function: ResetMobileSDP"), Progress(9900, 99),
                Progress(10000, 100)};
    return r;
}

TEST(RunRecord, SurvivesTheTripBetweenProcesses) {
    const RunRecord sent = SampleRun();
    RunRecord got;
    ASSERT_TRUE(ParseRunRecord(FormatRunRecord(sent), got));
    EXPECT_EQ(got.result, 0);
    EXPECT_DOUBLE_EQ(got.wallMs, 10000);
    EXPECT_DOUBLE_EQ(got.pausesMs, 9000);
    EXPECT_EQ(got.systemBytes, 4000000u);
    EXPECT_EQ(got.peakResidentKiB, 6144u);
    ASSERT_EQ(got.events.size(), sent.events.size());
    EXPECT_EQ(got.events[9].text, kSystemStep);   // spaces and commas kept
    EXPECT_DOUBLE_EQ(got.events[9].cpuMs, 30);
    EXPECT_DOUBLE_EQ(got.events[7].lengthMs, 5000);
    EXPECT_EQ(got.events[5].percent, 6);

    // A worker that died while writing leaves no "end": not a record.
    std::string cut = FormatRunRecord(sent);
    cut.resize(cut.rfind("end"));
    RunRecord partial;
    EXPECT_FALSE(ParseRunRecord(cut, partial));
    RunRecord odd;
    EXPECT_FALSE(ParseRunRecord("result 0\nevent bogus 1\nend\n", odd));
    EXPECT_FALSE(ParseRunRecord("wall_ms many\nend\n", odd));
}

TEST(RunRecord, StepsLastUntilTheNextAndTransfersAreToldApart) {
    const std::vector<StepSpan> steps = StepSpans(SampleRun());
    ASSERT_EQ(steps.size(), 6u);
    EXPECT_DOUBLE_EQ(steps[1].startMs, 600);
    EXPECT_DOUBLE_EQ(steps[1].lengthMs, 1400);
    EXPECT_DOUBLE_EQ(steps[1].cpuMs, 15);
    EXPECT_DOUBLE_EQ(steps[5].lengthMs, 1000);   // the last one runs to the answer
    EXPECT_DOUBLE_EQ(steps[5].cpuMs, 25);
    EXPECT_FALSE(steps[0].transfer);
    EXPECT_TRUE(steps[1].transfer);    // NV items
    EXPECT_FALSE(steps[2].transfer);
    EXPECT_TRUE(steps[3].transfer);    // system.img
    EXPECT_FALSE(steps[4].transfer);   // an erase moves no data

    const StepSpan system = SystemImageStep(SampleRun());
    EXPECT_DOUBLE_EQ(system.startMs, 7200);
    EXPECT_DOUBLE_EQ(system.lengthMs, 1000);
    EXPECT_DOUBLE_EQ(system.cpuMs, 60);
    EXPECT_DOUBLE_EQ(SystemImageStep(RunRecord{}).lengthMs, 0);
}

TEST(RunRecord, PhasesFollowTheProgressMarks) {
    const std::vector<PhaseSpan> phases = PhaseSpans(SampleRun());
    ASSERT_EQ(phases.size(), 6u);
    const char* names[] = {"prepare", "backup", "switch", "images", "reset", "restore"};
    const double starts[] = {0, 500, 2000, 7200, 9000, 9900};
    for (size_t i = 0; i < phases.size(); ++i) {
        EXPECT_EQ(phases[i].name, names[i]);
        EXPECT_NEAR(phases[i].startMs, starts[i], 0.01) << names[i];
    }
    EXPECT_NEAR(phases[5].lengthMs, 100, 0.01);
}

TEST(Report, FiguresOfABatch) {
    Batch one{1, 10000, "0.5 0.4 0.3", {SampleRun()}};
    RunRecord slower = SampleRun();
    slower.wallMs = 12000;
    slower.pausesMs = 11000;
    slower.result = -13314;
    slower.peakResidentKiB = 8192;
    Batch two{2, 12500, "1.0 0.5 0.2", {SampleRun(), slower}};

    const BatchFigures f1 = Figures(one, one.wallMs);
    EXPECT_EQ(f1.succeeded, 1u);
    EXPECT_NEAR(f1.wallOverPauses, 10000.0 / 9000.0, 1e-9);
    EXPECT_NEAR(f1.overOneCard, 1.0, 1e-9);
    EXPECT_NEAR(f1.systemMBps, 4.0, 1e-9);     // 4 MB in one second
    EXPECT_NEAR(f1.cpuMsPerMB, 15.0, 1e-9);    // 60 ms over 4 MB
    EXPECT_NEAR(f1.peakResidentMiB, 6.0, 1e-9);

    const BatchFigures f2 = Figures(two, one.wallMs);
    EXPECT_EQ(f2.succeeded, 1u);
    EXPECT_NEAR(f2.runWallS, 11.0, 1e-9);
    EXPECT_NEAR(f2.wallOverPauses, 22000.0 / 20000.0, 1e-9);
    EXPECT_NEAR(f2.overOneCard, 1.25, 1e-9);
    EXPECT_NEAR(f2.peakResidentMiB, 8.0, 1e-9);

    const std::string table = MarkdownTable({one, two});
    EXPECT_NE(table.find("| 1 | 1 | 10.00 | 9.00 | 1.111 | 1.000 | 4.0 | 15.00 | 120 | 6.0 | 0.5 0.4 0.3 |"),
              std::string::npos)
        << table;
    EXPECT_NE(table.find("| 2 | 1 | 11.00 | 10.00 | 1.100 | 1.250 |"), std::string::npos) << table;
}

TEST(Report, PhaseTableSumsPausesAndTransfersWithinEachPhase) {
    const std::string table = PhaseTable(SampleRun());
    EXPECT_NE(table.find("| backup | 0.50 | 1.50 | 1.00 | 1.40 |"), std::string::npos) << table;
    EXPECT_NE(table.find("| switch | 2.00 | 5.20 | 5.00 | 0.00 |"), std::string::npos) << table;
    EXPECT_NE(table.find("| images | 7.20 | 1.80 | 0.00 | 1.00 |"), std::string::npos) << table;
}

TEST(Timeline, DrawsEveryPauseAndTransferWithinTheRun) {
    RunRecord run = SampleRun();
    run.events.push_back(Step(9950, 96, "Function: WindowsDownload <odd> & \"quoted\""));
    // Polls back to back are one bar; a pause a few pixels later is its own.
    for (double at : {7300.0, 7311.0, 7322.0, 7400.0}) run.events.push_back(Pause(at, 10));
    const std::string svg = TimelineSvg(run, "a < b");
    EXPECT_EQ(svg.rfind("<svg", 0), 0u);
    EXPECT_NE(svg.find("</svg>"), std::string::npos);
    EXPECT_NE(svg.find("a &lt; b"), std::string::npos);
    EXPECT_NE(svg.find("&lt;odd&gt; &amp; &quot;quoted&quot;"), std::string::npos);
    EXPECT_EQ(svg.find("<odd>"), std::string::npos);

    const std::regex rect(R"re(<rect x="([0-9.]+)" y="[0-9.]+" width="([0-9.]+)"[^>]*fill="([^"]+)")re");
    size_t pauses = 0, transfers = 0, phases = 0;
    for (auto it = std::sregex_iterator(svg.begin(), svg.end(), rect); it != std::sregex_iterator(); ++it) {
        const double x = std::stod((*it)[1]);
        const double width = std::stod((*it)[2]);
        EXPECT_GE(x, 0);
        EXPECT_LE(x + width, 1200.5);
        const std::string fill = (*it)[3];
        if (fill == "#d9534f") ++pauses;
        else if (fill == "#3f7fbf") ++transfers;
        else ++phases;
    }
    EXPECT_EQ(pauses, 4u);
    EXPECT_NE(svg.find("3 pauses, 30 ms in all from 7.3 s"), std::string::npos);
    EXPECT_EQ(transfers, 3u);
    EXPECT_EQ(phases, 6u);
}

}  // namespace
}  // namespace runbench

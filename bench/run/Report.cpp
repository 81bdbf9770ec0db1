#include "bench/run/Report.h"

#include <algorithm>
#include <cstdio>
#include <sstream>

namespace runbench {

namespace {

constexpr double kMB = 1e6;

std::string Fixed(double value, int decimals) {
    char text[32];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

}  // namespace

BatchFigures Figures(const Batch& batch, double oneCardWallMs) {
    BatchFigures f;
    f.cards = batch.cards;
    if (batch.runs.empty()) return f;
    double wall = 0, pauses = 0, rate = 0, cpu = 0, runCpu = 0;
    for (const RunRecord& run : batch.runs) {
        if (run.result == 0) ++f.succeeded;
        wall += run.wallMs;
        pauses += run.pausesMs;
        const StepSpan system = SystemImageStep(run);
        if (system.lengthMs > 0 && run.systemBytes > 0) {
            rate += (run.systemBytes / kMB) / (system.lengthMs / 1000.0);
            cpu += system.cpuMs / (run.systemBytes / kMB);
        }
        runCpu += run.cpuMs;
        f.peakResidentMiB = std::max(f.peakResidentMiB, run.peakResidentKiB / 1024.0);
    }
    const double n = static_cast<double>(batch.runs.size());
    f.runWallS = wall / n / 1000.0;
    f.pausesS = pauses / n / 1000.0;
    f.wallOverPauses = pauses > 0 ? wall / pauses : 0;
    f.overOneCard = oneCardWallMs > 0 ? batch.wallMs / oneCardWallMs : 0;
    f.systemMBps = rate / n;
    f.cpuMsPerMB = cpu / n;
    f.runCpuMs = runCpu / n;
    return f;
}

std::string MarkdownTable(const std::vector<Batch>& batches) {
    double oneCard = 0;
    for (const Batch& batch : batches)
        if (batch.cards == 1) oneCard = batch.wallMs;
    std::ostringstream out;
    out << "| cards | succeeded | wall per run (s) | pauses asked for (s) | wall / pauses | batch / one card "
           "| system.img (MB/s) | host CPU per MB (ms) | host CPU per run (ms) | peak resident (MiB) | load before |\n"
        << "|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---|\n";
    for (const Batch& batch : batches) {
        const BatchFigures f = Figures(batch, oneCard);
        out << "| " << f.cards << " | " << f.succeeded << " | " << Fixed(f.runWallS, 2) << " | " << Fixed(f.pausesS, 2)
            << " | " << Fixed(f.wallOverPauses, 3) << " | " << (oneCard > 0 ? Fixed(f.overOneCard, 3) : "-") << " | "
            << Fixed(f.systemMBps, 1) << " | " << Fixed(f.cpuMsPerMB, 2) << " | " << Fixed(f.runCpuMs, 0) << " | "
            << Fixed(f.peakResidentMiB, 1)
            << " | " << batch.loadBefore << " |\n";
    }
    return out.str();
}

std::string PhaseTable(const RunRecord& run) {
    std::ostringstream out;
    out << "| phase | starts at (s) | lasts (s) | pauses asked for (s) | transfers (s) |\n|---|---:|---:|---:|---:|\n";
    const std::vector<StepSpan> steps = StepSpans(run);
    for (const PhaseSpan& phase : PhaseSpans(run)) {
        const auto within = [&](double at) { return at >= phase.startMs && at < phase.startMs + phase.lengthMs; };
        double pauses = 0, transfers = 0;
        for (const RunEvent& e : run.events)
            if (e.kind == EventKind::Pause && within(e.atMs)) pauses += e.lengthMs;
        for (const StepSpan& step : steps)
            if (step.transfer && within(step.startMs)) transfers += step.lengthMs;
        out << "| " << phase.name << " | " << Fixed(phase.startMs / 1000, 2) << " | " << Fixed(phase.lengthMs / 1000, 2)
            << " | " << Fixed(pauses / 1000, 2) << " | " << Fixed(transfers / 1000, 2) << " |\n";
    }
    return out.str();
}

std::string PerformanceDocument(const std::vector<Batch>& batches, const ReportContext& c) {
    std::ostringstream out;
    out << "# Performance of a whole upgrade run\n\n"
        << "This file is written by `" << c.command << "`; do not edit it by hand. It was last made on " << c.date
        << " on " << c.machine << ".\n\n"
        << "Each run is a complete upgrade through message 1025 against the virtual card (`cardsim`) on a "
           "pseudo-terminal, at the card's default real-time delays and with every pause of the module at its full "
           "length. Each card has its own `cardsim` process and each run its own host process, so N cards are N "
           "runs at once. The package holds a system.img of "
        << Fixed(c.systemBytes / kMB, 1) << " MB and " << Fixed(c.packageBytes / kMB, 1) << " MB in all.\n\n"
        << MarkdownTable(batches) << "\n"
        << "- *wall per run*: from message 1025 sent to its answer, mean of the runs.\n"
        << "- *pauses asked for*: the sum of the fixed pauses the run asked its clock for, mean of the runs; "
           "*wall / pauses* is what the run spends beyond them (1.00 would be nothing).\n"
        << "- *batch / one card*: the whole batch's wall time over the one-card batch's.\n"
        << "- *system.img*: its size over the time from the start of its write to the next step (MB = 10^6 bytes).\n"
        << "- *host CPU per MB*: user and system time of the host process while it wrote system.img, over its size; "
           "*per run*: the same for the whole run.\n"
        << "- *peak resident*: the largest peak resident set of a host process of the batch.\n"
        << "- *load before*: `/proc/loadavg` (1, 5, 15 minutes) as the batch started; the machine is shared.\n\n"
        << "## Timeline of one run\n\n"
        << "![timeline](" << c.timelineFile << ")\n\n"
        << (c.timelineRun != nullptr ? PhaseTable(*c.timelineRun) + "\n" : std::string())
        << "The phases are told from the progress the module reports; *transfers* are the steps that move data "
           "(NV items, the flash programmer, the partition table, boot loaders and images), each until the next "
           "step; *pauses* are the fixed pauses the run asked for, back-to-back ones (the 10 ms polls of a block's "
           "acknowledgement) drawn as one bar. A transfer's time includes the polls it waits with.\n";
    return out.str();
}

}  // namespace runbench

// The benchmark's table and the document it regenerates, docs/performance.md.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "bench/run/RunRecord.h"

namespace runbench {

// Every card of one batch flashed at once, each on its own virtual card.
struct Batch {
    size_t cards = 0;
    double wallMs = 0;          // from the first worker started to the last one done
    std::string loadBefore;     // /proc/loadavg when the batch started
    std::vector<RunRecord> runs;
};

struct BatchFigures {
    size_t cards = 0;
    size_t succeeded = 0;
    double runWallS = 0;        // mean of the runs
    double pausesS = 0;         // mean of the runs
    double wallOverPauses = 0;  // mean wall / mean pauses
    double overOneCard = 0;     // batch wall / the one-card batch's wall
    double systemMBps = 0;      // mean; MB = 10^6 bytes
    double cpuMsPerMB = 0;      // mean host CPU of the system.img write per MB of it
    double runCpuMs = 0;        // mean host CPU of the whole run
    double peakResidentMiB = 0; // highest of the runs
};

// `oneCardWallMs` 0 leaves overOneCard at 0.
BatchFigures Figures(const Batch& batch, double oneCardWallMs);

struct ReportContext {
    std::string command;       // how the document was made
    std::string machine;       // processor and cores
    std::string date;          // UTC
    uint64_t systemBytes = 0;
    uint64_t packageBytes = 0;
    std::string timelineFile;  // relative to the document
    const RunRecord* timelineRun = nullptr;
};

std::string MarkdownTable(const std::vector<Batch>& batches);
// Each phase of one run: its start and length, the pauses asked for and the
// transfers begun within it.
std::string PhaseTable(const RunRecord& run);
std::string PerformanceDocument(const std::vector<Batch>& batches, const ReportContext& context);

}  // namespace runbench

// What one whole upgrade run measured, as the worker process writes it and
// the benchmark reads it back: the figures and the events of its timeline.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace runbench {

enum class EventKind { Pause, Step, Progress };

// Times are milliseconds since the run's message was sent.
struct RunEvent {
    EventKind kind = EventKind::Step;
    double atMs = 0;
    double lengthMs = 0;    // Pause: as asked for
    double cpuMs = 0;       // Step: host CPU time used by the run so far
    int percent = 0;        // Progress
    std::string text;       // Step: the traced step
};

struct RunRecord {
    int32_t result = 0;
    double wallMs = 0;
    double pausesMs = 0;        // sum of the pauses the run asked for
    double cpuMs = 0;           // user + system time of the host process during the run
    uint64_t peakResidentKiB = 0;
    uint64_t systemBytes = 0;   // size of system.img
    uint64_t imageBytes = 0;    // every file of the package
    std::vector<RunEvent> events;
};

std::string FormatRunRecord(const RunRecord& record);
// False when the text is not a complete record.
bool ParseRunRecord(const std::string& text, RunRecord& record);

// The traced steps of the run itself, each lasting until the next one.
struct StepSpan {
    std::string text;
    double startMs = 0;
    double lengthMs = 0;
    double cpuMs = 0;        // host CPU time the step used
    bool transfer = false;   // data goes to or comes from the card
};
std::vector<StepSpan> StepSpans(const RunRecord& record);

// The system.img write (an empty span when the run has none).
StepSpan SystemImageStep(const RunRecord& record);

// The phases of the run told from its progress reports (the same marks the
// fwupgrade program uses), each with its start and length.
struct PhaseSpan {
    std::string name;
    double startMs = 0;
    double lengthMs = 0;
};
std::vector<PhaseSpan> PhaseSpans(const RunRecord& record);

}  // namespace runbench

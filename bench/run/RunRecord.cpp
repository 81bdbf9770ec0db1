#include "bench/run/RunRecord.h"

#include <chrono>
#include <sstream>

#include "host/fwupgrade/report/PhaseTimes.h"

namespace runbench {

namespace {

// Steps that carry data: NV items, the programmer, the partition table and
// the images (an erase is a command, not a transfer).
constexpr const char* kTransferSteps[] = {
    "Function: BackupNVMOP",  "Function: RestoreNVMOP",        "Function: DownloadArmPrg",
    "Function: DownloadPartitionTable", "Function: DownloadSecondboot", "Function: DownloadAppsbootloader",
    "Function: WindowsDownload",
};
constexpr const char* kSystemImageStep = "strSystemPath";

bool StartsWith(const std::string& text, const char* prefix) { return text.rfind(prefix, 0) == 0; }

bool IsTransfer(const std::string& step) {
    for (const char* prefix : kTransferSteps)
        if (StartsWith(step, prefix)) return true;
    return false;
}

const char* KindWord(EventKind kind) {
    switch (kind) {
        case EventKind::Pause: return "pause";
        case EventKind::Step: return "step";
        case EventKind::Progress: return "progress";
    }
    return "";
}

bool ParseEvent(std::istringstream& line, RunEvent& event) {
    std::string kind;
    line >> kind >> event.atMs;
    if (kind == "pause") {
        event.kind = EventKind::Pause;
        line >> event.lengthMs;
    } else if (kind == "progress") {
        event.kind = EventKind::Progress;
        line >> event.percent;
    } else if (kind == "step") {
        event.kind = EventKind::Step;
        line >> event.cpuMs;
        line.get();
        std::getline(line, event.text);
    } else {
        return false;
    }
    return !line.fail();
}

}  // namespace

std::string FormatRunRecord(const RunRecord& r) {
    std::ostringstream out;
    out.precision(12);
    out << "result " << r.result << "\nwall_ms " << r.wallMs << "\npauses_ms " << r.pausesMs << "\ncpu_ms " << r.cpuMs
        << "\npeak_resident_kib " << r.peakResidentKiB << "\nsystem_bytes " << r.systemBytes << "\nimage_bytes "
        << r.imageBytes << "\n";
    for (const RunEvent& e : r.events) {
        out << "event " << KindWord(e.kind) << ' ' << e.atMs;
        if (e.kind == EventKind::Pause) out << ' ' << e.lengthMs;
        if (e.kind == EventKind::Progress) out << ' ' << e.percent;
        if (e.kind == EventKind::Step) out << ' ' << e.cpuMs << ' ' << e.text;
        out << '\n';
    }
    out << "end\n";
    return out.str();
}

bool ParseRunRecord(const std::string& text, RunRecord& r) {
    std::istringstream in(text);
    std::string raw;
    bool ended = false;
    while (std::getline(in, raw)) {
        std::istringstream line(raw);
        std::string key;
        line >> key;
        if (key == "result") line >> r.result;
        else if (key == "wall_ms") line >> r.wallMs;
        else if (key == "pauses_ms") line >> r.pausesMs;
        else if (key == "cpu_ms") line >> r.cpuMs;
        else if (key == "peak_resident_kib") line >> r.peakResidentKiB;
        else if (key == "system_bytes") line >> r.systemBytes;
        else if (key == "image_bytes") line >> r.imageBytes;
        else if (key == "end") ended = true;
        else if (key == "event") {
            RunEvent event;
            if (!ParseEvent(line, event)) return false;
            r.events.push_back(std::move(event));
            continue;
        } else {
            return false;
        }
        if (line.fail()) return false;
    }
    return ended;
}

std::vector<StepSpan> StepSpans(const RunRecord& record) {
    std::vector<StepSpan> spans;
    double cpuAtStart = 0;
    for (const RunEvent& e : record.events) {
        if (e.kind != EventKind::Step) continue;
        if (!spans.empty()) {
            spans.back().lengthMs = e.atMs - spans.back().startMs;
            spans.back().cpuMs = e.cpuMs - cpuAtStart;
        }
        spans.push_back({e.text, e.atMs, 0, 0, IsTransfer(e.text)});
        cpuAtStart = e.cpuMs;
    }
    if (!spans.empty()) {
        spans.back().lengthMs = record.wallMs - spans.back().startMs;
        spans.back().cpuMs = record.cpuMs - cpuAtStart;
    }
    return spans;
}

StepSpan SystemImageStep(const RunRecord& record) {
    for (const StepSpan& span : StepSpans(record))
        if (span.text.find(kSystemImageStep) != std::string::npos) return span;
    return {};
}

std::vector<PhaseSpan> PhaseSpans(const RunRecord& record) {
    using Clock = fwupgrade::PhaseTimes::Clock;
    const Clock::time_point start{};
    const auto at = [&](double ms) {
        return start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double, std::milli>(ms));
    };
    fwupgrade::PhaseTimes phases(start);
    for (const RunEvent& e : record.events)
        if (e.kind == EventKind::Progress) phases.Progress(e.percent, at(e.atMs));
    std::vector<PhaseSpan> spans;
    double next = 0;
    for (const auto& [name, seconds] : phases.Durations(at(record.wallMs))) {
        spans.push_back({name, next, seconds * 1000.0});
        next += seconds * 1000.0;
    }
    return spans;
}

}  // namespace runbench

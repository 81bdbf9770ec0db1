#include "bench/run/Timeline.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <sstream>
#include <vector>

namespace runbench {

namespace {

constexpr double kWidth = 1200;
constexpr double kLeft = 110;     // row labels
constexpr double kRight = 20;
constexpr double kTop = 50;
constexpr double kRowHeight = 34;
constexpr double kRowGap = 14;
constexpr const char* kPhaseColours[] = {"#8fb3d9", "#a9d18e", "#f4c26b", "#d99ab8", "#b7a6e0", "#9fd6d2"};
constexpr const char* kTransferColour = "#3f7fbf";
constexpr const char* kPauseColour = "#d9534f";

struct Axis {
    double totalMs;
    double X(double ms) const { return kLeft + (kWidth - kLeft - kRight) * ms / totalMs; }
    double W(double ms) const { return std::max(0.5, (kWidth - kLeft - kRight) * ms / totalMs); }
};

std::string Escape(const std::string& text) {
    std::string out;
    for (char c : text) {
        switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            default: out += c;
        }
    }
    return out;
}

std::string Number(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", value);
    return text;
}

void Rect(std::ostringstream& svg, double x, double y, double w, double h, const char* fill, const std::string& tip) {
    svg << "<rect x=\"" << Number(x) << "\" y=\"" << Number(y) << "\" width=\"" << Number(w) << "\" height=\""
        << Number(h) << "\" fill=\"" << fill << "\"><title>" << Escape(tip) << "</title></rect>\n";
}

void Label(std::ostringstream& svg, double x, double y, const std::string& text, const char* anchor = "start") {
    svg << "<text x=\"" << Number(x) << "\" y=\"" << Number(y) << "\" text-anchor=\"" << anchor << "\">"
        << Escape(text) << "</text>\n";
}

std::string Seconds(double ms) { return Number(ms / 1000.0) + " s"; }

void Ticks(std::ostringstream& svg, const Axis& axis, double bottom) {
    const double stepMs = axis.totalMs > 60000 ? 10000 : 5000;
    for (double ms = 0; ms <= axis.totalMs; ms += stepMs) {
        const double x = axis.X(ms);
        svg << "<line x1=\"" << Number(x) << "\" y1=\"" << Number(kTop - 6) << "\" x2=\"" << Number(x) << "\" y2=\""
            << Number(bottom) << "\" stroke=\"#ccc\"/>\n";
        Label(svg, x, bottom + 14, std::to_string(static_cast<int>(ms / 1000)) + " s", "middle");
    }
}

void PhaseRow(std::ostringstream& svg, const Axis& axis, const RunRecord& record, double y) {
    Label(svg, 8, y + kRowHeight / 2 + 4, "phases");
    size_t colour = 0;
    for (const PhaseSpan& phase : PhaseSpans(record)) {
        const char* fill = kPhaseColours[colour++ % (sizeof kPhaseColours / sizeof kPhaseColours[0])];
        Rect(svg, axis.X(phase.startMs), y, axis.W(phase.lengthMs), kRowHeight, fill,
             phase.name + ": starts at " + Seconds(phase.startMs) + ", lasts " + Seconds(phase.lengthMs));
        if (axis.W(phase.lengthMs) > 40) Label(svg, axis.X(phase.startMs) + 4, y + kRowHeight / 2 + 4, phase.name);
    }
}

void TransferRow(std::ostringstream& svg, const Axis& axis, const RunRecord& record, double y) {
    Label(svg, 8, y + kRowHeight / 2 + 4, "transfers");
    for (const StepSpan& step : StepSpans(record)) {
        if (!step.transfer) continue;
        Rect(svg, axis.X(step.startMs), y, axis.W(step.lengthMs), kRowHeight, kTransferColour,
             step.text + ": starts at " + Seconds(step.startMs) + ", lasts " + Seconds(step.lengthMs));
    }
}

// Pauses that follow each other closer than half a pixel, drawn as one bar.
struct PauseBar {
    double startMs = 0;
    double endMs = 0;
    double askedMs = 0;
    int count = 0;
};

std::vector<PauseBar> PauseBars(const Axis& axis, const RunRecord& record) {
    const double joinMs = axis.totalMs / (kWidth - kLeft - kRight) / 2;
    std::vector<PauseBar> bars;
    for (const RunEvent& e : record.events) {
        if (e.kind != EventKind::Pause) continue;
        if (!bars.empty() && e.atMs - bars.back().endMs < joinMs) {
            bars.back().endMs = std::max(bars.back().endMs, e.atMs + e.lengthMs);
        } else {
            bars.push_back({e.atMs, e.atMs + e.lengthMs, 0, 0});
        }
        bars.back().askedMs += e.lengthMs;
        ++bars.back().count;
    }
    return bars;
}

void PauseRow(std::ostringstream& svg, const Axis& axis, const RunRecord& record, double y) {
    Label(svg, 8, y + kRowHeight / 2 + 4, "pauses");
    for (const PauseBar& bar : PauseBars(axis, record)) {
        const std::string asked = std::to_string(static_cast<long>(bar.askedMs)) + " ms";
        Rect(svg, axis.X(bar.startMs), y, axis.W(bar.endMs - bar.startMs), kRowHeight, kPauseColour,
             (bar.count == 1 ? "pause of " + asked : std::to_string(bar.count) + " pauses, " + asked + " in all") +
                 " from " + Seconds(bar.startMs));
    }
}

}  // namespace

std::string TimelineSvg(const RunRecord& record, const std::string& title) {
    const Axis axis{record.wallMs > 0 ? record.wallMs : 1};
    const double rows[] = {kTop, kTop + kRowHeight + kRowGap, kTop + 2 * (kRowHeight + kRowGap)};
    const double bottom = rows[2] + kRowHeight + 6;
    const double height = bottom + 50;
    std::ostringstream svg;
    svg << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" << kWidth << "\" height=\"" << Number(height)
        << "\" viewBox=\"0 0 " << kWidth << ' ' << Number(height) << "\" font-family=\"sans-serif\" font-size=\"12\">\n";
    svg << "<rect width=\"100%\" height=\"100%\" fill=\"white\"/>\n";
    Label(svg, 8, 22, title);
    Ticks(svg, axis, bottom);
    PhaseRow(svg, axis, record, rows[0]);
    TransferRow(svg, axis, record, rows[1]);
    PauseRow(svg, axis, record, rows[2]);
    Label(svg, 8, height - 10,
          "wall " + Seconds(record.wallMs) + ", pauses asked for " + Seconds(record.pausesMs) +
              "; hover a bar for its step, start and length");
    svg << "</svg>\n";
    return svg.str();
}

}  // namespace runbench

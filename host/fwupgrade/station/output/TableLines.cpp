#include "host/fwupgrade/station/output/TableLines.h"

#include <cstdio>

namespace fwupgrade::station {

namespace {

std::string Padded(const std::string& text, size_t width) {
    if (text.size() >= width) return text.substr(0, width);
    return text + std::string(width - text.size(), ' ');
}

std::string CutTo(const std::string& line, size_t width) {
    if (line.size() <= width) return line;
    return width <= 1 ? line.substr(0, width) : line.substr(0, width - 1) + "~";
}

std::string ResultText(const Row& row) {
    switch (row.state) {
    case RowState::Waiting:
    case RowState::Running: return "";
    case RowState::Done: return "done";
    case RowState::NotSupported: return "not supported, left alone";
    default: break;
    }
    std::string text = RowStateWord(row.state);
    if (!row.reason.empty()) text += ": " + row.reason;
    if (!row.command.empty()) text += " -> " + row.command;
    return text;
}

std::string RowLine(const Row& row) {
    const std::string percent = row.percent < 0 ? "" : std::to_string(row.percent) + "%";
    const std::string left = row.state == RowState::Running && row.secondsLeft >= 0 ? ClockText(row.secondsLeft) : "";
    const std::string step = row.state == RowState::Waiting ? "waiting for a free run" : row.step;
    return Padded(row.port, 10) + " " + Padded(row.esn.empty() ? "-" : row.esn, 10) + " " + Padded(step, 28) + " " +
           Padded(percent, 5) + " " + Padded(left, 7) + " " + ResultText(row);
}

}  // namespace

std::string ClockText(double seconds) {
    if (seconds < 0) return "-";
    const long total = static_cast<long>(seconds + 0.5);
    char text[32];
    if (total >= 3600)
        std::snprintf(text, sizeof text, "%ld:%02ld:%02ld", total / 3600, total / 60 % 60, total % 60);
    else
        std::snprintf(text, sizeof text, "%ld:%02ld", total / 60, total % 60);
    return text;
}

std::vector<std::string> TableLines(const Board& board, size_t width) {
    std::vector<std::string> lines;
    lines.push_back(Padded("PORT", 10) + " " + Padded("ESN", 10) + " " + Padded("STEP", 28) + " " + Padded("%", 5) +
                    " " + Padded("LEFT", 7) + " RESULT");
    for (const auto& port : board.Order()) lines.push_back(RowLine(*board.Find(port)));
    const Totals t = board.Count();
    lines.push_back(std::to_string(t.flashed) + " flashed, " + std::to_string(t.failed) + " failed, " +
                    std::to_string(t.needRescue) + " need a rescue, " + std::to_string(t.running) + " running, " +
                    std::to_string(t.waiting) + " waiting; " + ClockText(board.SecondsSinceStart()) + " since start");
    for (auto& line : lines) line = CutTo(line, width);
    return lines;
}

}  // namespace fwupgrade::station

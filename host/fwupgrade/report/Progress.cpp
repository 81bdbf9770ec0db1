#include "host/fwupgrade/report/Progress.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>

namespace fwupgrade {

namespace {

constexpr size_t kDefaultColumns = 80;

size_t TerminalColumns() {
    winsize size{};
    if (::ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
    return kDefaultColumns;
}

}  // namespace

ProgressView::ProgressView(std::ostream& out, std::vector<std::string> labels, bool terminal, int barWidth)
    : out_(out), terminal_(terminal), barWidth_(std::max(barWidth, 10)), columns_(terminal ? TerminalColumns() : 0) {
    for (auto& label : labels) cards_.push_back(Card{std::move(label), -1, {}, {}});
}

std::string ProgressView::Bar(int percent, int width) {
    percent = std::clamp(percent, 0, 100);
    const int filled = percent * width / 100;
    std::string bar = "[";
    bar.append(static_cast<size_t>(filled), '#');
    bar.append(static_cast<size_t>(width - filled), '.');
    char number[16];
    std::snprintf(number, sizeof number, "] %3d%%", percent);
    return bar + number;
}

std::string ProgressView::LineFor(const Card& card) const {
    std::string line;
    if (cards_.size() > 1 || !card.label.empty()) line = card.label + "  ";
    line += Bar(std::max(card.percent, 0), barWidth_);
    if (!card.status.empty()) line += "  " + card.status;
    else if (!card.detail.empty()) line += "  " + card.detail;
    if (columns_ > 1 && line.size() > columns_ - 1) line.resize(columns_ - 1);
    return line;
}

void ProgressView::Redraw() {
    if (drawn_ && cards_.size() > 1) out_ << "\x1b[" << cards_.size() - 1 << "A";
    for (size_t i = 0; i < cards_.size(); ++i) {
        out_ << "\r\x1b[2K" << LineFor(cards_[i]);
        if (i + 1 < cards_.size()) out_ << "\n";
    }
    out_.flush();
    drawn_ = true;
}

void ProgressView::Update(size_t index, int percent) {
    if (closed_ || index >= cards_.size()) return;
    percent = std::clamp(percent, 0, 100);
    Card& card = cards_[index];
    if (percent <= card.percent) return;
    card.percent = percent;
    if (terminal_) {
        Redraw();
    } else {
        if (cards_.size() > 1 || !card.label.empty()) out_ << card.label << ": ";
        out_ << percent << "%\n";
        out_.flush();
    }
}

void ProgressView::SetDetail(size_t index, const std::string& detail) {
    if (closed_ || index >= cards_.size() || !terminal_ || cards_[index].detail == detail) return;
    cards_[index].detail = detail;
    Redraw();
}

void ProgressView::Finish(size_t index, const std::string& status) {
    if (closed_ || index >= cards_.size()) return;
    Card& card = cards_[index];
    card.status = status;
    if (terminal_) {
        Redraw();
    } else {
        if (cards_.size() > 1 || !card.label.empty()) out_ << card.label << ": ";
        out_ << status << "\n";
        out_.flush();
    }
}

void ProgressView::Message(const std::string& text) {
    if (closed_) return;
    if (terminal_ && drawn_) out_ << "\n";
    out_ << text << "\n";
    out_.flush();
    drawn_ = false;
}

void ProgressView::Close() {
    if (closed_) return;
    closed_ = true;
    if (terminal_ && drawn_) {
        out_ << "\n";
        out_.flush();
    }
}

}  // namespace fwupgrade

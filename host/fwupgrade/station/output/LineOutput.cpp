// Plain lines for output that is not a terminal: one line for each card that
// comes or goes, each step, every tenth of progress, and each result.
#include <map>

#include "host/fwupgrade/station/output/StationOutput.h"

namespace fwupgrade::station {

namespace {

class LineOutput : public StationOutput {
public:
    explicit LineOutput(std::ostream& out) : out_(out) {}

    void Tell(const Board& board, Happening what, const std::string& port) override {
        const Row* row = board.Find(port);
        if (row == nullptr) return;
        switch (what) {
        case Happening::Appeared: Line(port, "card " + row->identity + " plugged in"); break;
        case Happening::NotSupported: Line(port, row->identity + " not supported: " + row->reason); break;
        case Happening::Identified: Line(port, "card ESN " + row->esn + VersionWords(*row)); break;
        case Happening::Step: Line(port, row->step); break;
        case Happening::Progress: Progress(*row); break;
        case Happening::Result: Result(*row); break;
        case Happening::Removed: Line(port, "card removed"); break;
        }
    }

    void Note(const std::string& text) override { out_ << text << std::endl; }

    void Close(const Board& board) override {
        const Totals t = board.Count();
        out_ << t.flashed << " flashed, " << t.failed << " failed, " << t.needRescue << " need a rescue." << std::endl;
    }

private:
    static std::string VersionWords(const Row& row) { return row.version.empty() ? "" : ", version " + row.version; }

    void Line(const std::string& port, const std::string& text) { out_ << port << ": " << text << std::endl; }

    void Progress(const Row& row) {
        int& shown = tenths_[row.port];
        if (row.percent / 10 <= shown / 10) return;
        shown = row.percent;
        Line(row.port, std::to_string(row.percent) + "%");
    }

    void Result(const Row& row) {
        tenths_.erase(row.port);
        std::string text = RowStateWord(row.state);
        if (!row.esn.empty()) text += " (ESN " + row.esn + ")";
        if (!row.reason.empty()) text += ": " + row.reason;
        if (!row.command.empty()) text += "; to bring it back run: " + row.command;
        Line(row.port, text);
    }

    std::ostream& out_;
    std::map<std::string, int> tenths_;
};

}  // namespace

std::unique_ptr<StationOutput> MakeLineOutput(std::ostream& out) { return std::make_unique<LineOutput>(out); }

}  // namespace fwupgrade::station

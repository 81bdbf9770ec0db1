// The live table on a terminal: redrawn in place, over the lines it drew
// last time; notes go above it and stay.
#include "host/fwupgrade/station/output/StationOutput.h"
#include "host/fwupgrade/station/output/TableLines.h"

namespace fwupgrade::station {

namespace {

class TableOutput : public StationOutput {
public:
    TableOutput(std::ostream& out, size_t (*width)()) : out_(out), width_(width) {}

    void Tell(const Board& board, Happening, const std::string&) override { Draw(board); }
    void Tick(const Board& board) override { Draw(board); }

    void Note(const std::string& text) override {
        Erase();
        out_ << text << "\n";
        drawn_ = 0;
        out_.flush();
    }

    void Close(const Board& board) override { Draw(board); }

private:
    void Erase() {
        if (drawn_ > 0) out_ << "\r\x1b[" << drawn_ << "A\x1b[J";
    }

    void Draw(const Board& board) {
        Erase();
        const auto lines = TableLines(board, width_());
        for (const auto& line : lines) out_ << line << "\n";
        drawn_ = lines.size();
        out_.flush();
    }

    std::ostream& out_;
    size_t (*width_)();
    size_t drawn_ = 0;
};

}  // namespace

std::unique_ptr<StationOutput> MakeTableOutput(std::ostream& out, size_t (*width)()) {
    return std::make_unique<TableOutput>(out, width);
}

}  // namespace fwupgrade::station

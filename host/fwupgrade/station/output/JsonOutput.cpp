// One JSON object per line for each thing that happens.
#include <cmath>

#include <nlohmann/json.hpp>

#include "host/fwupgrade/station/output/StationOutput.h"

namespace fwupgrade::station {

namespace {

const char* EventName(Happening what) {
    switch (what) {
    case Happening::Appeared: return "card_appeared";
    case Happening::NotSupported: return "not_supported";
    case Happening::Identified: return "card";
    case Happening::Step: return "step";
    case Happening::Progress: return "progress";
    case Happening::Result: return "result";
    case Happening::Removed: return "card_removed";
    }
    return "unknown";
}

class JsonOutput : public StationOutput {
public:
    explicit JsonOutput(std::ostream& out) : out_(out) {}

    void Tell(const Board& board, Happening what, const std::string& port) override {
        const Row* row = board.Find(port);
        nlohmann::json event{{"event", EventName(what)}, {"port", port}};
        if (row != nullptr) AddRow(event, *row, what);
        Write(event);
    }

    void Note(const std::string& text) override { Write({{"event", "notice"}, {"text", text}}); }

    void Close(const Board& board) override {
        const Totals t = board.Count();
        Write({{"event", "summary"},
               {"flashed", t.flashed},
               {"failed", t.failed},
               {"need_rescue", t.needRescue},
               {"seconds", std::round(board.SecondsSinceStart() * 10) / 10}});
    }

private:
    static void AddRow(nlohmann::json& event, const Row& row, Happening what) {
        switch (what) {
        case Happening::Appeared:
        case Happening::NotSupported:
            event["identity"] = row.identity;
            if (!row.reason.empty()) event["reason"] = row.reason;
            break;
        case Happening::Identified:
            event["esn"] = row.esn;
            event["version"] = row.version;
            break;
        case Happening::Step: event["step"] = row.step; break;
        case Happening::Progress:
            event["percent"] = row.percent;
            event["step"] = row.step;
            event["left"] = row.secondsLeft;
            break;
        case Happening::Result:
            event["result"] = RowStateWord(row.state);
            if (!row.esn.empty()) event["esn"] = row.esn;
            if (!row.reason.empty()) event["reason"] = row.reason;
            if (!row.command.empty()) event["command"] = row.command;
            if (!row.keptBackup.empty()) event["kept_backup"] = row.keptBackup;
            break;
        case Happening::Removed: break;
        }
    }

    void Write(const nlohmann::json& event) {
        out_ << event.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) << std::endl;
    }

    std::ostream& out_;
};

}  // namespace

std::unique_ptr<StationOutput> MakeJsonOutput(std::ostream& out) { return std::make_unique<JsonOutput>(out); }

}  // namespace fwupgrade::station

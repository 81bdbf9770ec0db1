#include "host/fwupgrade/station/output/Board.h"

#include "host/fwupgrade/report/FailureReport.h"

namespace fwupgrade::station {

std::string RowStateWord(RowState state) {
    switch (state) {
    case RowState::Waiting: return "waiting";
    case RowState::Running: return "running";
    case RowState::Done: return "done";
    case RowState::Failed: return "failed";
    case RowState::NeedsRescue: return "needs rescue";
    case RowState::NotSupported: return "not supported";
    case RowState::Stopped: return "stopped";
    }
    return "unknown";
}

Row& Board::At(const std::string& port) {
    auto [at, added] = rows_.try_emplace(port);
    if (added) {
        at->second.port = port;
        order_.push_back(port);
    }
    return at->second;
}

const Row* Board::Find(const std::string& port) const {
    const auto at = rows_.find(port);
    return at == rows_.end() ? nullptr : &at->second;
}

void Board::Record(const std::string& port, const RunResult& result) {
    Row& row = At(port);
    row.keptBackup = result.keptBackup;
    if (row.esn.empty()) row.esn = EsnOfKeptBackup(result.keptBackup);
    if (result.exitStatus == kExitOk) {
        row.state = RowState::Done;
        row.percent = 100;
        row.secondsLeft = 0;
        row.step = "finished";
        return;
    }
    row.state = result.exitStatus == kExitInterrupted ? RowState::Stopped : RowState::Failed;
    row.reason = result.reasonLine.empty() ? result.headline : result.reasonLine;
    row.command = !result.rescueCommand.empty() ? result.rescueCommand : result.restoreCommand;
}

Totals Board::Count() const {
    Totals totals;
    for (const auto& [port, row] : rows_) {
        switch (row.state) {
        case RowState::Done: ++totals.flashed; break;
        case RowState::Failed:
        case RowState::Stopped: ++totals.failed; break;
        case RowState::NeedsRescue: ++totals.needRescue; break;
        case RowState::Running: ++totals.running; break;
        case RowState::Waiting: ++totals.waiting; break;
        case RowState::NotSupported: break;
        }
    }
    return totals;
}

double Board::SecondsSinceStart() const {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
}

std::string EsnOfKeptBackup(const std::string& folder) {
    const size_t last = folder.find_last_of('/');
    if (last == std::string::npos || last == 0) return {};
    const size_t before = folder.find_last_of('/', last - 1);
    if (before == std::string::npos) return {};
    const std::string parent = folder.substr(0, before);
    if (parent.size() < 8 || parent.compare(parent.size() - 8, 8, "/backups") != 0) return {};
    return folder.substr(before + 1, last - before - 1);
}

}  // namespace fwupgrade::station

#include "host/fwupgrade/report/RunResult.h"

#include <cmath>

namespace fwupgrade {

nlohmann::json ToJson(const RunResult& r) {
    return nlohmann::json{
        {"device", r.device},
        {"port", r.port},
        {"code", r.code},
        {"exit", r.exitStatus},
        {"headline", r.headline},
        {"step", r.stepLine},
        {"reason", r.reasonLine},
        {"channel_nvm", r.channelNvm},
        {"channel_nvm_written", r.channelNvmWritten},
        {"lock_backup", r.lockBackup},
        {"lock_backup_written", r.lockBackupWritten},
        {"log", r.logFile},
        {"folder", r.folder},
        {"losses", r.losses},
        {"left_in_programmer", r.leftInProgrammer},
        {"rescue", r.rescueCommand},
        {"restore", r.restoreCommand},
        {"card_state", r.cardState},
        {"kept_backup", r.keptBackup},
        {"run_folder", r.runFolder},
        {"earlier_run", r.earlierRun},
        {"card_unchanged", r.cardUnchanged},
        {"write_problem", r.writeFolder.empty() ? nlohmann::json(nullptr)
                                                : nlohmann::json{{"folder", r.writeFolder},
                                                                 {"reason", r.writeFailure},
                                                                 {"errno", r.writeErrno}}},
        {"ways_on", r.waysOn},
    };
}

RunResult RunResultFromJson(const nlohmann::json& e) {
    RunResult r;
    r.device = e.value("device", "");
    r.port = e.value("port", 0);
    r.code = e.value("code", 0);
    r.exitStatus = e.value("exit", 1);
    r.headline = e.value("headline", "");
    r.stepLine = e.value("step", "");
    r.reasonLine = e.value("reason", "");
    r.channelNvm = e.value("channel_nvm", "");
    r.channelNvmWritten = e.value("channel_nvm_written", false);
    r.lockBackup = e.value("lock_backup", "");
    r.lockBackupWritten = e.value("lock_backup_written", false);
    r.logFile = e.value("log", "");
    r.folder = e.value("folder", "");
    if (e.contains("losses") && e["losses"].is_array())
        for (const auto& loss : e["losses"])
            if (loss.is_string()) r.losses.push_back(loss.get<std::string>());
    r.leftInProgrammer = e.value("left_in_programmer", false);
    r.rescueCommand = e.value("rescue", "");
    r.restoreCommand = e.value("restore", "");
    r.cardState = e.value("card_state", "");
    r.keptBackup = e.value("kept_backup", "");
    r.runFolder = e.value("run_folder", "");
    r.earlierRun = e.value("earlier_run", "");
    r.cardUnchanged = e.value("card_unchanged", false);
    if (const auto problem = e.find("write_problem"); problem != e.end() && problem->is_object()) {
        r.writeFolder = problem->value("folder", "");
        r.writeFailure = problem->value("reason", "");
        r.writeErrno = problem->value("errno", 0);
    }
    if (e.contains("ways_on") && e["ways_on"].is_array())
        for (const auto& way : e["ways_on"])
            if (way.is_string()) r.waysOn.push_back(way.get<std::string>());
    return r;
}

std::string ProgressEvent(int percent) {
    return nlohmann::json{{"event", "progress"}, {"percent", percent}}.dump();
}

std::string ProgressEvent(int percent, const ProgressDetail& detail) {
    nlohmann::json event{{"event", "progress"},
                         {"percent", percent},
                         {"step", detail.step},
                         {"elapsed", std::round(detail.elapsed * 10) / 10},
                         {"left", std::round(detail.left * 10) / 10}};
    if (detail.rate) event["rate"] = std::lround(*detail.rate);
    return event.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

std::string ResultEvent(const RunResult& result) {
    nlohmann::json event = ToJson(result);
    event["event"] = "result";
    return event.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

std::string SummaryText(const RunResult& r) {
    std::string text = r.device + ": " + r.headline + "\n";
    if (!r.earlierRun.empty()) text += "  An earlier run on this card never finished: " + r.earlierRun + "\n";
    for (const auto& loss : r.losses) text += "  lost:        " + loss + "\n";
    auto where = [](const std::string& path, bool written) {
        return path + (written ? "" : " (not written in this run)");
    };
    text += "  NV backup:   " + where(r.channelNvm, r.channelNvmWritten) + "\n";
    text += "  lock backup: " + where(r.lockBackup, r.lockBackupWritten) + "\n";
    if (!r.runFolder.empty()) text += "  run folder:  " + r.runFolder + "\n";
    if (!r.keptBackup.empty() && r.exitStatus == 0) text += "  kept backup: " + r.keptBackup + "\n";
    if (!r.logFile.empty()) text += "  log:         " + r.logFile + "\n";
    if (r.leftInProgrammer)
        text += "  The card still runs its flash programmer: unplug it and plug it back in before it works as a "
                "modem.\n";
    if (!r.cardState.empty()) text += "  The card was last seen " + r.cardState + ".\n";
    if (!r.keptBackup.empty() && r.exitStatus != 0)
        text += "  Its data is safe: NV items, Wi-Fi address and lock files are kept in " + r.keptBackup + "\n";
    if (!r.rescueCommand.empty()) text += "  To rescue the card run: " + r.rescueCommand + "\n";
    if (!r.restoreCommand.empty()) text += "  To write its data back run: " + r.restoreCommand + "\n";
    if (!r.waysOn.empty()) text += "  Ways on:\n";
    for (const std::string& way : r.waysOn) text += "    " + way + "\n";
    // The step and its reason stay the last lines.
    if (!r.stepLine.empty()) text += "  step:   " + r.stepLine + "\n";
    if (!r.reasonLine.empty()) text += "  reason: " + r.reasonLine + "\n";
    return text;
}

}  // namespace fwupgrade

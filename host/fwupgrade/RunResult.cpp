#include "host/fwupgrade/RunResult.h"

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
    return r;
}

std::string ProgressEvent(int percent) {
    return nlohmann::json{{"event", "progress"}, {"percent", percent}}.dump();
}

std::string ResultEvent(const RunResult& result) {
    nlohmann::json event = ToJson(result);
    event["event"] = "result";
    return event.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

std::string SummaryText(const RunResult& r) {
    std::string text = r.device + ": " + r.headline + "\n";
    auto where = [](const std::string& path, bool written) {
        return path + (written ? "" : " (not written in this run)");
    };
    text += "  NV backup:   " + where(r.channelNvm, r.channelNvmWritten) + "\n";
    text += "  lock backup: " + where(r.lockBackup, r.lockBackupWritten) + "\n";
    if (!r.logFile.empty()) text += "  log:         " + r.logFile + "\n";
    if (!r.stepLine.empty()) text += "  step:   " + r.stepLine + "\n";
    if (!r.reasonLine.empty()) text += "  reason: " + r.reasonLine + "\n";
    return text;
}

}  // namespace fwupgrade

#include "host/fwupgrade/report/RunRecord.h"

#include <climits>
#include <cmath>
#include <cstdlib>
#include <ctime>
#include <filesystem>

#include "host/fwupgrade/card/CardBackup.h"
#include "host/fwupgrade/report/FailureReport.h"

namespace fwupgrade {

namespace {

double Milliseconds(double seconds) { return std::round(seconds * 1000) / 1000; }

std::string Resolved(const std::string& path) {
    char buffer[PATH_MAX];
    return ::realpath(path.c_str(), buffer) != nullptr ? std::string(buffer) : std::string();
}

}  // namespace

CardFacts GatherCardFacts(const RunFindings& findings, const std::string& channelNvm, std::time_t started) {
    CardFacts facts;
    facts.versionBefore = findings.softwareVersion;
    const std::string package = channelNvm.substr(0, channelNvm.rfind('/'));
    if (const std::optional<RunBackup> backup = BackupOfRun(package, started)) {
        facts.esn = upgrade::EsnText(backup->record.esn);
        if (facts.versionBefore.empty()) facts.versionBefore = backup->record.version;
        facts.versionAfter = backup->record.versionAfter;
        facts.keptBackup = backup->keptFolder;
    }
    // A run refused before its backup is filed under the card the outcome names.
    if (facts.esn.empty() && findings.cardEsn != 0) facts.esn = upgrade::EsnText(findings.cardEsn);
    return facts;
}

std::string ResultWord(int exitStatus) {
    switch (exitStatus) {
        case kExitOk: return "ok";
        case kExitRejected: return "rejected";
        case kExitFailed: return "failed";
        case kExitUnsupported: return "unsupported";
        case kExitInterrupted: return "interrupted";
        default: return "error";
    }
}

nlohmann::json HistoryEntry(const RunRecord& record, const RunResult& result) {
    nlohmann::json phases = nlohmann::json::array();
    for (const auto& [name, seconds] : record.phases) phases.push_back({{"phase", name}, {"seconds", Milliseconds(seconds)}});
    return nlohmann::json{
        {"time", record.time},
        {"command", record.command},
        {"device", record.device},
        {"device_by_id", record.stableDevice},
        {"esn", record.card.esn},
        {"version_before", record.card.versionBefore},
        {"version_after", record.card.versionAfter},
        {"package", record.package},
        {"package_digest", record.packageDigest},
        {"result", ResultWord(result.exitStatus)},
        {"exit", result.exitStatus},
        {"headline", result.headline},
        {"failed_step", record.failedStep},
        {"losses", result.losses},
        {"kept_backup", record.card.keptBackup},
        {"log", result.logFile},
        {"seconds", Milliseconds(record.seconds)},
        {"phases", phases},
    };
}

std::string StableDevicePath(const std::string& device, const std::string& byIdFolder) {
    const std::string target = Resolved(device);
    if (target.empty()) return {};
    if (device.rfind(byIdFolder + "/", 0) == 0) return device;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(byIdFolder, error)) {
        if (Resolved(entry.path().string()) == target) return entry.path().string();
    }
    return {};
}

std::string LocalTimeText(std::time_t when) {
    std::tm local{};
    ::localtime_r(&when, &local);
    char text[40];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S%z", &local);
    return text;
}

}  // namespace fwupgrade

#include "host/fwupgrade/FailureReport.h"

#include <utility>
#include <vector>

namespace fwupgrade {

namespace {

constexpr int32_t kRejected = -13313;
constexpr int32_t kFailed = -13314;

bool StartsWith(const std::string& text, const std::string& prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

bool EndsWith(const std::string& text, const std::string& suffix) {
    return text.size() >= suffix.size() && text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

// Members of the download file list named in the run's image-write lines.
const std::vector<std::pair<std::string, std::string>>& ImageMembers() {
    static const std::vector<std::pair<std::string, std::string>> members = {
        {"strOemsbl", "oemsbl.mbn"},     {"strAmss", "amss.mbn"},         {"strBootFilePath", "boot.img"},
        {"strSystemPath", "system.img"}, {"strUserdata", "userdata.img"}, {"strSplash", "splash.img"},
        {"strRecovery", "recovery.img"}, {"strCefs", "cefs.mbn"},
    };
    return members;
}

std::string ImageNamed(const std::string& call) {
    // The image is the last file-list member the call names ("header, image").
    std::string found;
    size_t best = 0;
    for (const auto& [member, file] : ImageMembers()) {
        const size_t at = call.rfind("m_DownloadFileList." + member);
        if (at != std::string::npos && (found.empty() || at > best)) {
            found = file;
            best = at;
        }
    }
    return found.empty() ? "an image" : found;
}

}  // namespace

int ExitStatusFor(int32_t resultCode) {
    if (resultCode == 0) return kExitOk;
    if (resultCode == kRejected) return kExitRejected;
    if (resultCode == kFailed) return kExitFailed;
    return kExitOther;
}

std::optional<std::string> DescribeStep(const std::string& message) {
    struct Step {
        const char* prefix;
        const char* words;
    };
    static const Step steps[] = {
        {"Function: Initialize", "checking the package folder"},
        {"Function: InitPort", "opening the serial port"},
        {"Function: TouchPort", "probing the card on the serial port"},
        {"Function: SelectArmprgAccordingToPidVid", "choosing the flash programmer"},
        {"Execute SelectPhoneType function", "reading the card's software version"},
        {"Execute DealQ7K function", "preparing the Q7k card"},
        {"Function: pPacket->NvItemRead(NV_FTM_MODE_I", "reading NV items 453 and 22"},
        {"Function: pPacket->NvItemRead(22", "reading NV items 453 and 22"},
        {"Function: CreateNVBackupDirectory", "creating the NV backup folder"},
        {"Function: ReadWiFiAddress", "saving the Wi-Fi address"},
        {"EnumAllAbsoluteFilePathInEfsDir", "saving the lock files of the card"},
        {"BackupLockFile", "saving the lock files of the card"},
        {"Function: BackupNVMOP", "saving the NV items to channel.nvm"},
        {"Function: SwitchToDownload", "switching the card to download mode"},
        {"Function: DownloadArmPrg", "loading the flash programmer into the card"},
        {"Function: GoToFlashPrg", "starting the flash programmer"},
        {"Function: DownloadPartitionTable", "writing the partition table (partition.mbn)"},
        {"Function: DownloadSecondbootloaderheader", "writing the boot loader header (qcsblhd_cfgdata.mbn)"},
        {"Function: DownloadSecondbootloader", "writing the boot loader (qcsbl.mbn)"},
        {"Function: DownloadAppsbootloader", "writing the apps boot loader (appsboot.mbn)"},
        {"Function: ResetMobileSDP", "restarting the card into the new firmware"},
        {"Function: NvItemWrite(22", "writing NV item 22 back"},
        {"Function: RestoreNVMOP", "restoring the NV items from channel.nvm"},
        {"Execute WriteWiFiAddress", "restoring the Wi-Fi address"},
        {"RestoreLockFile", "restoring the lock files"},
    };
    // Progress lines mark a step only where the next step writes no line of
    // its own: the security mode after 10, the reset after 98, NV 22 after 99.
    if (message == "Function: ShowRatio 10") return std::string("setting the security mode of the flash programmer");
    if (message == "Function: ShowRatio 98") return std::string("restarting the card into the new firmware");
    if (message == "Function: ShowRatio 99") return std::string("writing NV item 22 back");
    if (StartsWith(message, "Function: ShowRatio")) return std::nullopt;
    if (StartsWith(message, "Function: WindowsDownload")) return "writing " + ImageNamed(message);
    if (StartsWith(message, "Function: EraseSector ")) return "erasing " + message.substr(22);
    if (EndsWith(message, " fail") || EndsWith(message, " fail ")) return std::nullopt;
    for (const auto& step : steps)
        if (StartsWith(message, step.prefix)) return std::string(step.words);
    return std::nullopt;
}

namespace {

bool IsReasonLine(const TraceEntry& entry) {
    const std::string& m = entry.message;
    return m.find("Since") != std::string::npos || m.find("fail") != std::string::npos ||
           m.find("not Exist") != std::string::npos || m.find("NULL==") != std::string::npos;
}

constexpr const char* kMissingMarker = " file is not Exist !!";

}  // namespace

void FailureTracker::Add(const TraceEntry& entry) {
    if (EndsWith(entry.message, kMissingMarker)) missingFile_ = entry;
    if (ended_) return;
    // The failure procedure's own line ends the steps of the run.
    if (EndsWith(entry.function, "::DealError")) {
        ended_ = true;
        return;
    }
    if (EndsWith(entry.function, "::FirmWareUpgrade")) {
        if (auto described = DescribeStep(entry.message)) {
            step_ = entry;
            stepWords_ = *described;
            sentence_.reset();
            failureLine_.reset();
            return;
        }
    }
    // The command's own sentence (", Since <reason>") wins over any other
    // failure line; the last of each counts.
    if (entry.message.find("Since") != std::string::npos) {
        sentence_ = entry;
    } else if (IsReasonLine(entry)) {
        failureLine_ = entry;
    }
}

FailureSummary FailureTracker::Summarize(int32_t resultCode) const {
    FailureSummary summary;
    if (resultCode == kRejected) {
        if (!missingFile_) {
            summary.headline = "The package was rejected by the module's file check.";
            return summary;
        }
        const std::string& m = missingFile_->message;
        const std::string file = m.substr(0, m.size() - std::string(kMissingMarker).size());
        summary.headline = "The package was rejected: " + file + " is missing, unreadable or shorter than 2 bytes.";
        summary.reason = missingFile_;
        return summary;
    }
    if (resultCode != kFailed) {
        summary.headline = "The module answered an unexpected result code " + std::to_string(resultCode) + ".";
        return summary;
    }
    summary.headline = step_ ? "The upgrade failed while " + stepWords_ + "." : "The upgrade failed.";
    summary.step = step_;
    summary.reason = sentence_ ? sentence_ : failureLine_;
    return summary;
}

FailureSummary SummarizeFailure(int32_t resultCode, const std::deque<TraceEntry>& trace) {
    FailureTracker tracker;
    for (const auto& entry : trace) tracker.Add(entry);
    return tracker.Summarize(resultCode);
}

}  // namespace fwupgrade

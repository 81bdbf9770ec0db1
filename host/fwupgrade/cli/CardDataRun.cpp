#include "host/fwupgrade/cli/CardDataRun.h"

#include <cctype>
#include <iostream>

#include "host/fwupgrade/card/CardAim.h"
#include "host/fwupgrade/card/DeviceAccess.h"
#include "host/fwupgrade/card/RescueCommand.h"
#include "host/fwupgrade/cli/Commands.h"
#include "host/fwupgrade/plugin/CardSupport.h"
#include "host/fwupgrade/report/EventWords.h"
#include "host/fwupgrade/run/PackageView.h"

namespace fwupgrade {

namespace {

constexpr int32_t kDevicePort = 1;   // the port pattern names the device itself

SingleRunRequest RequestOf(const CardDataOptions& options) {
    SingleRunRequest request;
    const bool named = !options.device.empty() || !options.usbPort.empty();
    request.port = named ? kDevicePort : options.port;
    request.device = options.device;
    request.usbPort = options.usbPort;
    request.logFile = options.logFile;
    request.pluginPath = options.pluginPath;
    request.command = options.commandLine;
    return request;
}

RunResult BaseOf(const SingleRunRequest& request) {
    RunResult result;
    const bool named = !request.device.empty() || !request.usbPort.empty();
    result.device = named ? CardName{request.device, request.usbPort}.Label() : "COM" + std::to_string(request.port);
    result.port = request.port;
    result.folder = AbsolutePath(".");
    return result;
}

// The card is pinned once, at the start, while it is still where the user
// named it; the commands the summary gives then name the pin.
SingleRunRequest Pinned(SingleRunRequest request, CardAim& aim, std::string& error, bool& aimed) {
    aimed = AimAtCard({request.device, request.usbPort}, aim, error);
    if (!aim.pinName.empty()) request.usbPort = aim.pinName;
    return request;
}

}  // namespace

std::string CardDataSummary(const RunResult& r) {
    std::string text = r.device + ": " + r.headline + "\n";
    if (!r.earlierRun.empty()) text += "  An earlier run on this card never finished: " + r.earlierRun + "\n";
    text += r.details;
    if (r.details.empty() && !r.keptBackup.empty()) text += "  kept backup: " + r.keptBackup + "\n";
    if (!r.rescueCommand.empty())
        text += "  To rescue the card run: " + r.rescueCommand + "  (" + kPackagePlaceholder +
                ": the firmware package folder)\n";
    if (!r.restoreCommand.empty()) text += "  To finish the restore run: " + r.restoreCommand + "\n";
    if (!r.logFile.empty()) text += "  log:         " + r.logFile + "\n";
    return text;
}

CardDataRun::CardDataRun(const CardDataOptions& options, std::string stopNotice, std::string stoppedMidway)
    : options_(options),
      request_(Pinned(RequestOf(options), aim_, aimError_, aimed_)),
      result_(BaseOf(RequestOf(options))),
      session_(request_, std::cout, result_),
      watch_([this](int signal) { session_.OnSignal(signal); }) {
    session_.ServeCardData({CardDataSummary, std::move(stopNotice), std::move(stoppedMidway)});
}

bool CardDataRun::Start() {
    if (!aimed_) return Fail(kExitUsage, aimError_);
    std::string error;
    if (!session_.OpenLog(error)) {
        error[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(error[0])));
        return Fail(kExitOther, error + ".");
    }
    result_.logFile = session_.Base().logFile;
    if (!aim_.note.empty()) session_.Notice(aim_.note);
    const DeviceAccess access = CheckCardAccess(result_.port);
    if (access.exitStatus != kExitOk) return Fail(access.exitStatus, access.problem);
    if (!LoadPlugin() || !AskModule()) return false;
    inhibition_.emplace(request_.usbPort, [this](const std::string& line) { session_.Notice(line); });
    session_.MarkStarted();
    return true;
}

// Message 1026 to the loaded plug-in about the card, before anything is sent to it.
bool CardDataRun::AskModule() {
    const std::string refusal = RefusalFromModule(*host_, result_.port, CardUse::Drive);
    if (refusal.empty()) return true;
    if (const auto identity = CardIdentityNow(result_.port); identity && !CardModeOf(*identity).empty()) NameRescue();
    return Fail(kExitUnsupported, refusal);
}

// Loads the plug-in (--plugin, else the registered one) and takes its card
// operations; the trace goes to the log.
bool CardDataRun::LoadPlugin() {
    PluginHostOptions hostOptions;
    hostOptions.pluginPath = options_.pluginPath;
    hostOptions.onTrace = [this](const TraceEntry& entry) { session_.OnTrace(entry); };
    hostOptions.onProgress = [](int) {};
    host_.emplace(hostOptions);
    std::string error;
    if (!host_->Load(error)) return Fail(kExitOther, "Cannot load the upgrade module: " + error + ".");
    const FwupCardOperationTable* table = host_->CardOperations(error);
    if (table == nullptr) return Fail(kExitOther, "The upgrade module cannot be used: " + error + ".");
    operations_.emplace(*table, CardTarget{result_.port, aim_.followedPin});
    operations_->OnStep([this](int32_t step) { session_.OnStep(step); });
    operations_->StopWhen([this] { return session_.StopRequested(); });
    return true;
}

// The card is in its boot downloader or flash programmer: the rescue takes it.
void CardDataRun::NameRescue() {
    result_.rescueCommand = RescueCommandFor(request_.usbPort, options_.device, result_.port, kPackagePlaceholder);
}

void CardDataRun::DescribeCardOutsideFirmware(const char* failed) {
    uint32_t esn = 0;
    const int32_t state = Operations().Probe(esn);
    if (state != FWUP_CARD_BOOT_DOWNLOADER && state != FWUP_CARD_FLASH_PROGRAMMER) return;
    result_.headline = "The card is " + CardStateWords(state) + ", not in its firmware (a run left it there), so " +
                       failed + "; the card is unchanged.";
    NameRescue();
}

bool CardDataRun::Fail(int exitStatus, const std::string& headline) {
    result_.exitStatus = exitStatus;
    result_.headline = headline;
    return false;
}

int CardDataRun::Finish(const std::string& details) {
    ShareFacts();
    result_.details = details;
    return session_.Finish(result_).exitStatus;
}

}  // namespace fwupgrade

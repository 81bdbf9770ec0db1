#include "host/fwupgrade/cli/Commands.h"

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <set>

#include <nlohmann/json.hpp>

#include "host/fwupgrade/card/CardAim.h"
#include "host/fwupgrade/card/CardScan.h"
#include "host/fwupgrade/plugin/CardSupport.h"
#include "host/fwupgrade/report/FailureReport.h"
#include "host/fwupgrade/report/History.h"
#include "host/fwupgrade/run/UnfinishedRuns.h"
#include "host/fwupgrade/package/PackageCheck.h"
#include "host/fwupgrade/plugin/PluginHost.h"
#include "host/fwupgrade/report/Progress.h"
#include "host/fwupgrade/report/RunEstimate.h"
#include "host/fwupgrade/card/SerialScan.h"
#include "host/fwupgrade/run/SingleRun.h"
#include "host/fwupgrade/run/Workers.h"

namespace fwupgrade {

bool OutputIsTerminal() {
    const char* term = std::getenv("TERM");
    return ::isatty(STDOUT_FILENO) == 1 && (term == nullptr || std::strcmp(term, "dumb") != 0);
}

namespace {

// Every card pinned to its USB port before the first worker starts, while
// each card is still where it was named; two names of one card refused.
bool PinCards(const std::vector<CardName>& cards, WorkerPlan& plan) {
    const platform::posix::UsbTree tree = platform::posix::UsbTreeFromEnvironment();
    std::set<std::string> seen;
    for (const CardName& card : cards) {
        std::string error;
        const auto pin = PinOfCard(card, tree, error);
        if (!error.empty()) {
            std::cerr << "upgrade: " << card.Label() << ": " << error << "\n";
            return false;
        }
        const std::string pinName = pin ? PinName(*pin) : "";
        if (pin && !seen.insert(pin->usbPort).second) {
            std::cerr << "upgrade: the card on USB port " << pin->usbPort << " is named more than once\n";
            return false;
        }
        plan.devices.push_back(card.Label());
        plan.usbPorts.push_back(pinName);
    }
    return true;
}

int UpgradeSeveral(const UpgradeOptions& options, const std::vector<CardName>& cards) {
    WorkerPlan plan;
    plan.executable = SelfExecutable();
    if (!PinCards(cards, plan)) return kExitUsage;
    plan.package = options.package;
    plan.workRoot = options.workRoot;
    plan.pluginPath = options.pluginPath;
    plan.command = options.commandLine;
    if (plan.executable.empty()) {
        std::cerr << "fwupgrade: cannot find the program's own path to start the workers\n";
        return kExitOther;
    }
    // The workers find the module manager in the register; registering it
    // once here keeps them from writing the same entry at the same time.
    std::string manager, error;
    if (!RegisterManager({}, manager, error)) {
        std::cerr << "fwupgrade: " << error << "\n";
        return kExitOther;
    }
    std::ostream& out = std::cout;
    const std::vector<std::string>& labels = plan.devices;
    ProgressView view(out, labels, OutputIsTerminal());
    WorkerEvents events;
    if (options.json) {
        events.progress = [&](size_t card, int percent) {
            out << nlohmann::json{{"event", "progress"}, {"card", card}, {"device", labels[card]},
                                  {"percent", percent}}
                       .dump()
                << std::endl;
        };
        events.notice = [&](size_t card, const std::string& text) {
            out << nlohmann::json{{"event", "notice"}, {"card", card}, {"device", labels[card]}, {"text", text}}
                       .dump()
                << std::endl;
        };
    } else {
        events.progress = [&](size_t card, int percent) { view.Update(card, percent); };
        events.step = [&](size_t card, const std::string& step, double left) {
            view.SetDetail(card, step + ", about " + ClockText(left) + " left");
        };
        events.notice = [&](size_t card, const std::string& text) { view.Message(labels[card] + ": " + text); };
        events.finished = [&](size_t card, const RunResult& result) {
            view.Finish(card, result.exitStatus == kExitOk            ? "done"
                              : result.exitStatus == kExitInterrupted ? "STOPPED"
                                                                      : "FAILED (exit " + std::to_string(result.exitStatus) + ")");
        };
    }
    std::vector<RunResult> results = RunWorkers(plan, events);
    if (!options.json) view.Close();
    size_t failed = 0;
    for (const auto& result : results)
        if (result.exitStatus != kExitOk) ++failed;
    const int worst = WorstExitStatus(results);
    if (options.json) {
        nlohmann::json summary = nlohmann::json::array();
        for (const auto& result : results) summary.push_back(ToJson(result));
        out << nlohmann::json{{"event", "summary"}, {"cards", summary}, {"exit", worst}}.dump() << "\n";
        return worst;
    }
    out << "\n";
    for (const auto& result : results) out << SummaryText(result);
    out << results.size() - failed << " of " << results.size() << " card(s) flashed successfully.\n";
    return worst;
}

}  // namespace

int RunUpgrade(const UpgradeOptions& options) {
    std::vector<CardName> cards;
    for (const auto& device : options.devices) cards.push_back({device, ""});
    for (const auto& usbPort : options.usbPorts) cards.push_back({"", usbPort});
    if (cards.size() > 1) return UpgradeSeveral(options, cards);
    SingleRunRequest request;
    if (cards.size() == 1) {
        request.device = cards[0].device;
        request.usbPort = cards[0].usbPort;
        request.port = 1;
    } else {
        request.port = options.port;
    }
    request.package = options.package;
    request.logFile = options.logFile;
    request.json = options.json;
    request.pluginPath = options.pluginPath;
    request.command = options.commandLine;
    // A worker of a run of several cards keeps the parent's command and
    // writes its summary and history entry into its card folder too.
    if (const char* command = std::getenv(kWorkerCommandVariable)) request.command = command;
    if (const char* folder = std::getenv(kWorkerFolderVariable)) request.cardFolder = folder;
    return RunSingleCard(request, std::cout).exitStatus;
}

int RunRescue(const RescueOptions& options) {
    SingleRunRequest request;
    request.device = options.device;
    request.usbPort = options.usbPort;
    request.port = options.device.empty() && options.usbPort.empty() ? options.port : 1;
    request.package = options.package;
    request.logFile = options.logFile;
    request.json = options.json;
    request.command = options.commandLine;
    request.rescue = true;
    request.rescueFrom = options.from;
    request.rescueWithoutData = options.withoutData;
    request.pluginPath = options.pluginPath;
    return RunSingleCard(request, std::cout).exitStatus;
}

namespace {

std::string SumsState(const PackageReport& report) {
    if (!report.sumsChecked) return "absent";
    return report.Accepted() ? "verified" : "refused";
}

void PrintFiles(const PackageReport& report) {
    for (const auto& file : report.files) {
        char size[24];
        std::snprintf(size, sizeof size, "%12llu", static_cast<unsigned long long>(file.size));
        std::printf("  %-20s %s bytes  %s\n", file.name.c_str(), size, file.sha256.c_str());
    }
    std::fflush(stdout);
}

}  // namespace

int RunCheck(const std::string& package, bool json) {
    const PackageReport report = CheckPackage(package, {.digestAll = true});
    if (json) {
        nlohmann::json problems = nlohmann::json::array();
        for (const auto& p : report.problems) problems.push_back({{"file", p.file}, {"text", p.text}, {"fatal", p.fatal}});
        nlohmann::json files = nlohmann::json::array();
        for (const auto& f : report.files) files.push_back({{"name", f.name}, {"size", f.size}, {"sha256", f.sha256}});
        std::cout << nlohmann::json{{"package", package},
                                    {"accepted", report.Accepted()},
                                    {"userdata", report.hasUserdata},
                                    {"splash", report.hasSplash},
                                    {"bytes", report.totalBytes},
                                    {"files", files},
                                    {"sha256sums", SumsState(report)},
                                    {"problems", problems}}
                         .dump(2)
                  << "\n";
        return report.Accepted() ? kExitOk : kExitRejected;
    }
    std::cout << std::flush;
    PrintFiles(report);
    for (const auto& p : report.problems) {
        std::cout << (p.fatal ? "error:  " : "note:   ") << (p.file.empty() ? "" : p.file + ": ") << p.text << "\n";
    }
    if (!report.Accepted()) {
        std::cout << "The package in " << package << " would be rejected.\n";
        return kExitRejected;
    }
    if (report.sumsChecked) std::cout << "Every file matches " << kSumsFileName << ".\n";
    std::cout << "The package in " << package << " is complete: " << report.totalBytes << " bytes to write"
              << (report.hasUserdata ? "" : ", userdata will be erased") << (report.hasSplash ? "" : ", no splash image")
              << ".\n";
    return kExitOk;
}

int RunPackageSums(const std::string& package) {
    // The list describes the package as it is: a new one replaces an old
    // one that no longer matches.
    const PackageReport report = CheckPackage(package, {.digestAll = true, .checkSums = false});
    if (!report.Accepted()) {
        for (const auto& p : report.problems)
            if (p.fatal) std::cout << "error:  " << (p.file.empty() ? "" : p.file + ": ") << p.text << "\n";
        std::cout << "No " << kSumsFileName << " written: the package in " << package << " is not complete.\n";
        return kExitRejected;
    }
    std::string error;
    if (!WriteSums(package, report.files, error)) {
        std::cerr << "fwupgrade: " << error << "\n";
        return kExitOther;
    }
    std::cout << std::flush;
    PrintFiles(report);
    std::cout << "Wrote " << package << "/" << kSumsFileName << " (" << report.files.size() << " files).\n";
    return kExitOk;
}

namespace {

std::string AccessWords(const FoundCard& card) {
    return card.canOpen ? "this user can open it" : "this user cannot open it (see fwupgrade's udev rule)";
}

nlohmann::json CardJson(const FoundCard& card, bool supported) {
    const std::string identity = IdentityText({card.vendor, card.product});
    nlohmann::json interfaces = nlohmann::json::array();
    for (const auto& i : card.interfaces)
        interfaces.push_back({{"device", i.path}, {"usb_port", i.usbPort}, {"driver", i.driver}, {"by_id", i.stableLinks}});
    return {{"device", card.port.path},
            {"usb_port", card.port.usbPort},
            {"by_id", card.port.stableLinks.empty() ? "" : card.port.stableLinks.front()},
            {"identity", identity},
            {"supported", supported},
            {"driver", card.port.driver},
            {"can_open", card.canOpen},
            {"interfaces", interfaces}};
}

// One line per card: the port to use and how to reach it, then its by-id name.
void PrintCard(const FoundCard& card, bool supported) {
    const std::string identity = IdentityText({card.vendor, card.product});
    const std::string mode = CardModeOf({card.vendor, card.product});
    std::string state = supported ? "supported" : "not supported";
    if (!supported && !mode.empty()) state = "not in its firmware: in its " + mode + " (fwupgrade rescue takes it)";
    std::cout << card.port.path << "  " << identity << "  " << state << "  --usb-port " << card.port.usbPort
              << "  driver " << (card.port.driver.empty() ? "none" : card.port.driver) << "  " << AccessWords(card)
              << "\n";
    for (const auto& link : card.port.stableLinks) std::cout << "    " << link << "\n";
}

}  // namespace

int RunDetect(const DetectOptions& options) {
    const std::vector<FoundCard> cards = ScanCards(options.sysRoot, options.devRoot, options.all);
    if (cards.empty()) {
        if (options.json) std::cout << nlohmann::json{{"cards", nlohmann::json::array()}}.dump(2) << "\n";
        else std::cout << (options.all ? std::string("No USB serial devices found.") : NoCardFoundText()) << "\n";
        return kExitOk;
    }
    PluginHostOptions hostOptions;
    hostOptions.pluginPath = options.pluginPath;
    PluginHost host(hostOptions);
    std::string error;
    if (!host.Load(error)) {
        std::cerr << "fwupgrade: cannot load the upgrade module: " << error << "\n";
        return kExitOther;
    }
    nlohmann::json listed = nlohmann::json::array();
    for (const auto& card : cards) {
        const bool supported = host.Supports(card.vendor, card.product);
        if (options.json) listed.push_back(CardJson(card, supported));
        else PrintCard(card, supported);
    }
    if (options.json) std::cout << nlohmann::json{{"cards", listed}}.dump(2) << "\n";
    else std::cout << cards.size() << (cards.size() == 1 ? " card" : " cards") << (options.all ? " or other device(s)" : "")
                   << " found.\n";
    return kExitOk;
}

int RunHistory(bool json) {
    const std::string state = StateFolder();
    std::vector<nlohmann::json> entries = state.empty() ? std::vector<nlohmann::json>{}
                                                        : FoldRunEntries(ReadHistory(state + "/" + kHistoryFileName));
    std::reverse(entries.begin(), entries.end());
    if (json) {
        std::cout << nlohmann::json(entries).dump(2) << "\n";
        return kExitOk;
    }
    if (entries.empty()) std::cout << "No runs yet" << (state.empty() ? "" : " in " + state) << ".\n";
    for (const auto& entry : entries) std::cout << HistoryRow(entry) << "\n";
    return kExitOk;
}

int RunRegister(bool unregister, const std::string& pluginPath) {
    PluginHostOptions hostOptions;
    hostOptions.pluginPath = pluginPath;
    PluginHost host(hostOptions);
    std::string error;
    if (!host.Load(error)) {
        std::cerr << "fwupgrade: cannot load the upgrade module: " << error << "\n";
        return kExitOther;
    }
    const int32_t code = unregister ? host.Unregister() : host.Register();
    if (code != 0) {
        std::cerr << "fwupgrade: the module's " << (unregister ? "UnregisterModule" : "RegisterModule")
                  << " answered " << code << "\n";
        return kExitOther;
    }
    std::cout << (unregister ? "Unregistered " : "Registered ") << host.PluginPath() << "\n";
    return kExitOk;
}

}  // namespace fwupgrade

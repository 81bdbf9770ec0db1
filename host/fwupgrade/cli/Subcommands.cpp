#include "host/fwupgrade/cli/Subcommands.h"

#include <iostream>
#include <memory>
#include <set>

#include "host/fwupgrade/card/CardScan.h"
#include "host/fwupgrade/cli/BackupsCommand.h"
#include "host/fwupgrade/cli/CardCommands.h"
#include "host/fwupgrade/cli/Commands.h"
#include "host/fwupgrade/report/FailureReport.h"
#include "host/fwupgrade/run/PackageView.h"
#include "host/fwupgrade/station/Station.h"
#include "platform/posix/UsbSerial.h"

namespace fwupgrade {
namespace {

constexpr const char* kUsbPortHelp =
    "USB port the card is plugged into, as sysfs names it (e.g. 1-1.2, or 1-1.2:1.0 for one interface; "
    "fwupgrade detect shows it): the card is followed there through its restarts";

// --port N, --device PATH or --usb-port PORT, one of them.
void AddCardOptions(CLI::App* command, int32_t& port, std::string& device, std::string& usbPort) {
    auto* portOpt = command->add_option("--port", port, "COM port number of the card")->check(CLI::Range(0, 255));
    auto* deviceOpt = command->add_option("--device", device, "Serial device of the card, e.g. /dev/serial/by-id/...");
    auto* usbOpt = command->add_option("--usb-port", usbPort, kUsbPortHelp);
    portOpt->excludes(deviceOpt);
    portOpt->excludes(usbOpt);
    deviceOpt->excludes(usbOpt);
}

// A command that names no card takes the only card plugged in, and says
// which; with none or several it stops with the reason (0 when it may go on).
int TakeOnlyCard(const char* command, std::string& usbPort, bool json) {
    const platform::posix::UsbTree tree = platform::posix::UsbTreeFromEnvironment();
    CardName card;
    std::string note, error;
    int status = kExitOk;
    if (!ChooseOnlyCard(tree.sysRoot, tree.devRoot, card, note, status, error)) {
        std::cerr << command << ": " << error << "\n";
        return status;
    }
    usbPort = card.usbPort;
    (json ? std::cerr : std::cout) << note << "\n";
    return kExitOk;
}

// The card named, or else the only one plugged in; kExitOk when there is one.
int CardGiven(const char* command, int32_t port, const std::string& device, std::string& usbPort, bool json = false) {
    if (port >= 0 || !device.empty() || !usbPort.empty()) return kExitOk;
    return TakeOnlyCard(command, usbPort, json);
}

// A --from that names an archive: imported before the card is touched.
int TakeSource(const char* command, std::string& from, bool json) {
    std::string note, error;
    if (!TakeBackupSource(from, note, error)) {
        std::cerr << command << ": " << error << "\n";
        return kExitFailed;
    }
    if (!note.empty()) (json ? std::cerr : std::cout) << note << "\n";
    return kExitOk;
}

constexpr const char* kPluginHelp = "The plug-in library to load instead of the registered one";

// Several --device values: none empty, no card named twice (two workers on
// one card would both drive its port); none at all: the only card plugged in.
int CheckUpgradeCards(UpgradeOptions& upgrade) {
    for (const auto& device : upgrade.devices) {
        if (device.empty()) {
            std::cerr << "upgrade: --device needs a device path, e.g. /dev/serial/by-id/...\n";
            return kExitUsage;
        }
    }
    if (upgrade.port < 0 && upgrade.devices.empty() && upgrade.usbPorts.empty()) {
        upgrade.usbPorts.emplace_back();
        if (const int status = TakeOnlyCard("upgrade", upgrade.usbPorts.back(), upgrade.json); status != kExitOk)
            return status;
    }
    std::set<std::string> seen;
    for (const auto& device : upgrade.devices) {
        if (!seen.insert(SameDeviceKey(device)).second) {
            std::cerr << "upgrade: the card " << device << " is named more than once\n";
            return kExitUsage;
        }
    }
    return kExitOk;
}

Subcommand AddUpgrade(CLI::App& app, const std::string& commandLine) {
    auto upgrade = std::make_shared<UpgradeOptions>();
    upgrade->commandLine = commandLine;
    auto* up = app.add_subcommand("upgrade", "Flash one card, or several at once, from a package folder");
    auto* portOpt = up->add_option("--port", upgrade->port, "COM port number of the card (the device path comes from "
                                                             "FWUPGRADE_PORT_PATTERN, default /dev/ttyUSB%d)")
                        ->check(CLI::Range(0, 255));
    auto* deviceOpt = up->add_option("--device", upgrade->devices,
                                     "Serial device of a card, e.g. /dev/serial/by-id/...; repeat it to flash "
                                     "several cards at once, one worker process each");
    auto* usbPortOpt = up->add_option("--usb-port", upgrade->usbPorts,
                                      std::string(kUsbPortHelp) + "; repeat it, or mix it with --device, to flash "
                                                                  "several cards at once");
    portOpt->excludes(deviceOpt);
    portOpt->excludes(usbPortOpt);
    up->add_option("--package", upgrade->package, "The package folder with the image files")->required();
    up->add_option("--log", upgrade->logFile,
                   "Write the module's trace as text lines to this file instead of a new file in the state folder "
                   "(with several cards: fwupgrade.log in each card's folder)");
    up->add_flag("--json", upgrade->json, "Progress and result as JSON lines on the output");
    up->add_option("--work-dir", upgrade->workRoot,
                   "With several cards: the folder below which each card gets its working folder")->capture_default_str();
    up->add_option("--plugin", upgrade->pluginPath, kPluginHelp);
    return {up, [upgrade] {
                const int status = CheckUpgradeCards(*upgrade);
                return status == kExitOk ? RunUpgrade(*upgrade) : status;
            }};
}

Subcommand AddStation(CLI::App& app, const std::string& commandLine) {
    auto options = std::make_shared<station::StationOptions>();
    options->commandLine = commandLine;
    auto* sta = app.add_subcommand("station", "Flash every card plugged in, as it is plugged in, until stopped; "
                                              "a line \"stop USB-PORT\" on the input stops that card at a safe point");
    sta->add_option("--package", options->package, "The package folder with the image files")->required();
    sta->add_option("--usb-port", options->usbPorts,
                    "Serve only the USB ports matching this pattern (shell wildcards, e.g. 1-1.*); repeat it for more");
    sta->add_option("--max-parallel", options->maxParallel, "Flash at most this many cards at once; "
                                                            "the others wait")
        ->capture_default_str()
        ->check(CLI::Range(1, 256));
    sta->add_flag("--json", options->json, "One JSON event per line: card appeared, step, progress, result, "
                                           "card removed");
    sta->add_option("--work-dir", options->workRoot, "The folder below which each USB port gets its working folder")
        ->capture_default_str();
    sta->add_option("--plugin", options->pluginPath, kPluginHelp);
    return {sta, [options] { return station::RunStation(*options); }};
}

Subcommand AddCheck(CLI::App& app) {
    auto package = std::make_shared<std::string>();
    auto json = std::make_shared<bool>(false);
    auto* check = app.add_subcommand("check", "Check a package folder without a card");
    check->add_option("--package", *package, "The package folder")->required();
    check->add_flag("--json", *json, "The report as JSON");
    return {check, [package, json] { return RunCheck(*package, *json); }};
}

Subcommand AddPackageSums(CLI::App& app) {
    auto package = std::make_shared<std::string>();
    auto* sums = app.add_subcommand("package-sums", "Write a package folder's SHA256SUMS, which check and upgrade verify");
    sums->add_option("DIR", *package, "The package folder")->required();
    return {sums, [package] { return RunPackageSums(*package); }};
}

Subcommand AddDetect(CLI::App& app) {
    auto detect = std::make_shared<DetectOptions>();
    detect->sysRoot = platform::posix::UsbTreeFromEnvironment().sysRoot;
    detect->devRoot = platform::posix::UsbTreeFromEnvironment().devRoot;
    auto* det = app.add_subcommand("detect", "List the cards plugged in, one line each with the port to use");
    det->add_flag("--all", detect->all, "List every USB serial device, supported or not");
    det->add_flag("--json", detect->json, "The cards as JSON");
    det->add_option("--sysfs", detect->sysRoot, "Root of sysfs")->capture_default_str()->group("");
    det->add_option("--devfs", detect->devRoot, "Root of the device nodes")->capture_default_str()->group("");
    det->add_option("--plugin", detect->pluginPath, kPluginHelp);
    return {det, [detect] { return RunDetect(*detect); }};
}

Subcommand AddDemo(CLI::App& app) {
    auto demo = std::make_shared<DemoOptions>();
    auto* dem = app.add_subcommand("demo", "Flash a virtual card (cardsim) from a generated package and verify it");
    dem->add_option("--folder", demo->folder, "Work in this folder instead of a new temporary one");
    dem->add_flag("--keep", demo->keep, "Keep the temporary folder");
    dem->add_option("--seed", demo->seed, "Seed of the generated package")->capture_default_str();
    dem->add_option("--system-size", demo->systemSize, "Size of system.img in bytes");
    dem->add_option("--clock-scale", demo->clockScale,
                    "Run the module's pauses this many times faster (virtual card only; 1 = real time)")->capture_default_str()
        ->check(CLI::Range(1, 1000));
    dem->add_option("--cards", demo->cards, "Flash this many virtual cards at once")
        ->capture_default_str()
        ->check(CLI::Range(1, 16));
    dem->add_option("--plugin", demo->pluginPath, kPluginHelp);
    return {dem, [demo] { return RunDemo(*demo); }};
}

Subcommand AddHistory(CLI::App& app) {
    auto json = std::make_shared<bool>(false);
    auto* hist = app.add_subcommand("history", "List the runs of this user, newest first");
    hist->add_flag("--json", *json, "The entries as a JSON array");
    return {hist, [json] { return RunHistory(*json); }};
}

Subcommand AddBackup(CLI::App& app, const std::string& commandLine) {
    auto backup = std::make_shared<CardDataOptions>();
    backup->commandLine = commandLine;
    auto* bak = app.add_subcommand("backup", "Save a card's NV items, Wi-Fi address and lock files and keep them; "
                                             "the card stays in its firmware");
    AddCardOptions(bak, backup->port, backup->device, backup->usbPort);
    bak->add_option("--to", backup->folder, "Put the backup files in this folder too (they are kept in any case)");
    bak->add_option("--log", backup->logFile, "Write the trace to this file instead of the state folder");
    bak->add_option("--plugin", backup->pluginPath, kPluginHelp);
    return {bak, [backup] {
                const int status = CardGiven("backup", backup->port, backup->device, backup->usbPort);
                return status == kExitOk ? RunBackupCommand(*backup) : status;
            }};
}

Subcommand AddRestore(CLI::App& app, const std::string& commandLine) {
    auto restore = std::make_shared<CardDataOptions>();
    restore->commandLine = commandLine;
    auto* res = app.add_subcommand("restore", "Write a kept backup back to a card that runs its firmware");
    AddCardOptions(res, restore->port, restore->device, restore->usbPort);
    res->add_option("--from", restore->folder,
                    "A kept backup folder, or an archive file, imported first (default: the card's pending "
                    "backup, else its newest own kept one)");
    res->add_flag("--force", restore->force, "Write a backup of another card (another ESN)");
    res->add_option("--log", restore->logFile, "Write the trace to this file instead of the state folder");
    res->add_option("--plugin", restore->pluginPath, kPluginHelp);
    return {res, [restore] {
                const int status = CardGiven("restore", restore->port, restore->device, restore->usbPort);
                if (status != kExitOk) return status;
                if (const int taken = TakeSource("restore", restore->folder, false); taken != kExitOk) return taken;
                return RunRestoreCommand(*restore);
            }};
}

Subcommand AddRescue(CLI::App& app, const std::string& commandLine) {
    auto rescue = std::make_shared<RescueOptions>();
    rescue->commandLine = commandLine;
    auto* rsc = app.add_subcommand("rescue", "Bring back a card an interrupted or failed run left behind: flash the "
                                             "whole package and give the card its data back");
    AddCardOptions(rsc, rescue->port, rescue->device, rescue->usbPort);
    rsc->add_option("--package", rescue->package, "The package folder with the image files")->required();
    rsc->add_option("--from", rescue->from,
                    "Restore this kept backup folder, or archive file (imported first), instead of the package "
                    "folder's")
        ->excludes(rsc->add_flag("--without-data", rescue->withoutData,
                                 "Flash a card outside its firmware without restoring anything: its data is lost"));
    rsc->add_option("--log", rescue->logFile, "Write the trace to this file instead of the state folder");
    rsc->add_option("--plugin", rescue->pluginPath, kPluginHelp);
    rsc->add_flag("--json", rescue->json, "Progress and result as JSON lines on the output");
    return {rsc, [rescue] {
                const int status = CardGiven("rescue", rescue->port, rescue->device, rescue->usbPort, rescue->json);
                if (status != kExitOk) return status;
                if (const int taken = TakeSource("rescue", rescue->from, rescue->json); taken != kExitOk) return taken;
                return RunRescue(*rescue);
            }};
}

Subcommand AddBackups(CLI::App& app) {
    struct Arguments {
        bool json = false;
        std::string which, file;
    };
    auto args = std::make_shared<Arguments>();
    auto* bks = app.add_subcommand("backups", "List the kept backups (ESN, time, software, state); export one to an "
                                              "archive file, or import one");
    bks->add_flag("--json", args->json, "The list as JSON");
    auto* bexp = bks->add_subcommand("export", "Write one kept backup to a single archive file");
    bexp->add_option("BACKUP", args->which, "The kept backup: its folder, or ESN/time as `backups` lists it")->required();
    bexp->add_option("FILE", args->file, "The archive file to write (never written over)")->required();
    auto* bimp = bks->add_subcommand("import", "Add the backup of an archive file to this machine's kept backups");
    bimp->add_option("FILE", args->file, "The archive file")->required();
    return {bks, [args, bexp, bimp] {
                if (bexp->parsed()) return RunBackupsExport(args->which, args->file);
                if (bimp->parsed()) return RunBackupsImport(args->file);
                return RunBackupsList(args->json);
            }};
}

// Maintenance of the register of host modules: kept out of the main help.
Subcommand AddRegister(CLI::App& app, bool remove) {
    auto plugin = std::make_shared<std::string>();
    auto* reg = remove ? app.add_subcommand("unregister", "Remove the module from the register of host modules")
                       : app.add_subcommand("register", "Register the module in the register of host modules");
    reg->group("");
    reg->add_option("--plugin", *plugin, remove ? "The plug-in library to unregister" : "The plug-in library to register");
    return {reg, [plugin, remove] { return RunRegister(remove, *plugin); }};
}

}  // namespace

std::vector<Subcommand> AddSubcommands(CLI::App& app, const std::string& commandLine) {
    return {AddUpgrade(app, commandLine), AddStation(app, commandLine), AddCheck(app),   AddPackageSums(app),
            AddDetect(app),               AddDemo(app),                 AddHistory(app), AddBackup(app, commandLine),
            AddRestore(app, commandLine), AddRescue(app, commandLine),  AddBackups(app), AddRegister(app, false),
            AddRegister(app, true)};
}

}  // namespace fwupgrade

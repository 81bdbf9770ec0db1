#include "sim/frontends/CardsimOptions.h"

#include <fstream>

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

namespace sim {
namespace {

bool ReadJson(const std::string& path, nlohmann::json& out, std::string& error) {
    std::ifstream in(path);
    if (!in) {
        error = "cannot read " + path;
        return false;
    }
    try {
        in >> out;
    } catch (const std::exception& e) {
        error = path + ": " + e.what();
        return false;
    }
    return true;
}

}  // namespace

int ParseCardsimOptions(int argc, char** argv, CardsimOptions& options) {
    CLI::App app{
        "cardsim: a virtual USB CDMA data card on a pseudo-terminal.\n"
        "Serves the card under --link until SIGTERM; SIGUSR1 writes the state file.\n"
        "Fault SPEC: kind[:key=value,...] with kind one of silence, late, nak, corrupt, no_end_flag,\n"
        "split, extra_flags, nv_refuse, efs_fail, bad_block, reenum_slow, reenum_missing,\n"
        "answer_once_after_reset, wifi_refused, wifi_unsupported and keys command, mode (at, diag,\n"
        "download, programmer), item, image, occurrence, count, value.\n"
        "Example: --fault late:command=0x38,value=2000 --fault bad_block:image=system.img,value=1",
        "cardsim"};
    app.add_option("--link", options.frontEnd.link, "Stable path of the card's current terminal");
    app.add_option("--wine-dosdevice", options.frontEnd.wineDosDevice,
                   "Also keep this Wine dosdevices link (DIR/comN) on the current terminal");
    app.add_option("--usb-sysfs", options.frontEnd.usb.sysRoot,
                   "Also show the card on a USB port in this stand-in for /sys (needs --usb-devfs)");
    app.add_option("--usb-devfs", options.frontEnd.usb.devRoot, "The stand-in for /dev that holds the card's tty node");
    app.add_option("--usb-port", options.frontEnd.usb.usbPort, "The USB port's sysfs name")->capture_default_str();
    app.add_option("--usb-tty-numbers", options.frontEnd.usb.ttyNumbers,
                   "The ttyUSB number wished for at each appearance on the bus, the last one repeated "
                   "(a taken number gives the next free one)")
        ->delimiter(',');
    app.add_option("--state-out", options.frontEnd.stateOut, "Card state JSON, written on exit and on SIGUSR1");
    app.add_option("--transcript", options.transcript, "Every byte both ways, one frame per line");
    app.add_option("--profile", options.profile, "Card state JSON to start from (a state file works too)");
    app.add_option("--scenario", options.scenario, "JSON file with an array of fault rules");
    app.add_option("--fault", options.faults, "A fault rule (repeatable)");
    app.add_option("--answer-delay", options.timing.answerDelayMs, "Milliseconds before each answer")
        ->capture_default_str();
    app.add_option("--leave-delay", options.timing.leaveDelayMs,
                   "Milliseconds from a mode switch answer to leaving the bus")
        ->capture_default_str();
    app.add_option("--reenum-delay", options.timing.reenumerationDelayMs,
                   "Milliseconds off the bus at each mode change")
        ->capture_default_str();
    app.add_option("--version-text", options.versionText, "Software version text (default LUM_Q7KV1.0.0B05)");
    app.add_flag("--non-q7k", options.otherVersion, "Report a version without the Q7k marker (LUM_W326V1.0.0B05)");
    app.add_flag("--short-version", options.shortVersion, "Answer the version with the 22-character layout");
    app.add_option("--spc", options.spc, "Service programming code (six digits, default 000000)");
    app.add_flag("--start-in-at-mode", options.startInAtMode, "The port starts in AT-command mode");
    app.add_flag("--diag-after-reset", options.diagAfterReset,
                 "The new firmware comes up in diagnostic mode instead of AT-command mode");

    auto* make = app.add_subcommand("make-package", "Write a firmware package folder");
    make->add_option("--out", options.packageOut, "Package folder")->required();
    make->add_option("--seed", options.package.seed, "Seed of the image contents")->capture_default_str();
    make->add_option("--system-size", options.package.systemSize, "Bytes of system.img")->capture_default_str();
    make->add_option("--amss-size", options.package.amssSize, "Bytes of amss.mbn")->capture_default_str();
    make->add_option("--cefs-size", options.package.cefsSize, "Bytes of cefs.mbn")->capture_default_str();
    make->add_option("--firmware-version", options.package.version, "Version text the new firmware reports")
        ->capture_default_str();
    bool noUserdata = false;
    bool noSplash = false;
    make->add_flag("--no-userdata", noUserdata, "Leave userdata.img out");
    make->add_flag("--no-splash", noSplash, "Leave splash.img out");
    make->add_flag("--new-layout", options.package.newPartitionLayout,
                   "A partition.mbn that differs from a default card's table");
    app.require_subcommand(0, 1);
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        return app.exit(e);
    }
    options.makePackage = make->parsed();
    options.package.userdata = !noUserdata;
    options.package.splash = !noSplash;
    const bool usbTree = !options.frontEnd.usb.sysRoot.empty();
    if (usbTree && options.frontEnd.usb.devRoot.empty()) {
        std::fprintf(stderr, "cardsim: --usb-sysfs needs --usb-devfs\n");
        return 2;
    }
    if (!options.makePackage && options.frontEnd.link.empty() && !usbTree) {
        std::fprintf(stderr, "cardsim: --link or --usb-sysfs is required to serve the card (see --help)\n");
        return 2;
    }
    return -1;
}

bool BuildCard(const CardsimOptions& options, CardData& data, FaultPlan& faults, std::string& error) {
    try {
        data = DefaultCardData();
        if (!options.profile.empty()) {
            nlohmann::json profile;
            if (!ReadJson(options.profile, profile, error)) return false;
            data = CardDataFromJson(profile);
        }
        if (options.otherVersion) data.version = kOtherVersion;
        if (!options.versionText.empty()) data.version = options.versionText;
        if (options.shortVersion) data.longVersionAnswer = false;
        if (!options.spc.empty()) {
            if (options.spc.size() != 6 || options.spc.find_first_not_of("0123456789") != std::string::npos) {
                error = "--spc: six decimal digits";
                return false;
            }
            data.spc = options.spc;
        }
        if (options.startInAtMode) data.startInAtMode = true;
        if (options.diagAfterReset) data.atModeAfterReset = false;
        faults = FaultPlan{};
        if (!options.scenario.empty()) {
            nlohmann::json scenario;
            if (!ReadJson(options.scenario, scenario, error)) return false;
            faults = FaultPlanFromJson(scenario);
        }
        for (const auto& text : options.faults) faults.rules.push_back(ParseFaultOption(text));
    } catch (const std::exception& e) {
        error = e.what();
        return false;
    }
    return true;
}

}  // namespace sim

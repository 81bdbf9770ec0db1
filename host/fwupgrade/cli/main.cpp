// fwupgrade: flashes USB CDMA data cards from a package folder through the
// firmware-upgrade plug-in.
#include <CLI/CLI.hpp>

#include <iostream>

#include "host/fwupgrade/cli/Subcommands.h"
#include "host/fwupgrade/report/FailureReport.h"
#include "host/fwupgrade/run/SignalWatch.h"
#include "platform/VirtualCardClock.h"

using namespace fwupgrade;

namespace {

std::string CommandLine(int argc, char** argv) {
    std::string line = "fwupgrade";
    for (int i = 1; i < argc; ++i) line += std::string(" ") + argv[i];
    return line;
}

constexpr const char* kExitCodesHelp =
    "Exit status:\n"
    "  0    success\n"
    "  1    anything else (no plug-in, no state folder, ...)\n"
    "  2    usage error\n"
    "  3    the package was rejected (before any card is touched)\n"
    "  4    the upgrade, rescue, backup or restore failed, or an archive was refused\n"
    "  5    no such device, or the path is no serial port (a file, a folder, /dev/null)\n"
    "  6    the device may not be opened by this user (permission denied)\n"
    "  7    the device is busy (held by another process)\n"
    "  8    the upgrade module does not support the card's USB identity; nothing was sent to it\n"
    "  130  stopped by a signal\n"
    "\n"
    "Before upgrade, rescue, backup and restore send anything to a card, they ask the upgrade module\n"
    "(message 1026) whether it supports the USB vendor and product of the device the card's tty\n"
    "belongs to; rescue also takes the card in its boot downloader or flash programmer. A device\n"
    "with no USB identity (a virtual card's pseudo-terminal given with --device) is not asked about.";

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{"fwupgrade: flash USB CDMA data cards (W326) from a firmware package folder"};
    app.require_subcommand(1);
    app.set_help_all_flag("--help-all", "Show the help of every subcommand");
    app.set_version_flag("--version", std::string("fwupgrade ") + FWUPGRADE_VERSION);
    app.footer(kExitCodesHelp);
    const std::vector<Subcommand> subcommands = AddSubcommands(app, CommandLine(argc, argv));

    IgnoreBrokenPipes();
    // With FWUPGRADE_CLOCK_SCALE set (tests, the demo), the linked module's
    // pauses run faster while its port is a virtual card's, as the plug-in's do.
    platform::InstallClockFromEnvironment();
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        const int status = app.exit(e);
        return status == 0 ? kExitOk : kExitUsage;
    }

    try {
        for (const Subcommand& subcommand : subcommands)
            if (subcommand.command->parsed()) return subcommand.run();
    } catch (const std::exception& e) {
        std::cerr << "fwupgrade: " << e.what() << "\n";
        return kExitOther;
    }
    return kExitUsage;
}

// fwupgrade demo: a generated package, the virtual card on a pseudo-terminal,
// a real upgrade through the plug-in with progress, and the card's flash
// checked against the package afterwards.
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <memory>

#include "host/fwupgrade/demo/CardProcess.h"
#include "host/fwupgrade/cli/Commands.h"
#include "host/fwupgrade/report/FailureReport.h"
#include "host/fwupgrade/run/PackageView.h"
#include "host/fwupgrade/run/SingleRun.h"
#include "sim/frontends/PackageMaker.h"

namespace fwupgrade {

namespace {

// The card's own delays, shortened with the module's clock so that both
// sides keep their proportions.
constexpr uint32_t kLeaveDelayMs = 100;
constexpr uint32_t kReenumerationDelayMs = 1500;

std::string MakeTempFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "fwupgrade-demo-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) return {};
    return pattern;
}

}  // namespace

int RunDemo(const DemoOptions& options) {
    std::ostream& out = std::cout;
    const bool ownFolder = options.folder.empty();
    const std::string folder = ownFolder ? MakeTempFolder() : AbsolutePath(options.folder);
    std::error_code ec;
    if (folder.empty() || (!ownFolder && !std::filesystem::create_directories(folder, ec) && ec)) {
        std::cerr << "fwupgrade demo: cannot create a working folder\n";
        return kExitOther;
    }
    const std::string package = folder + "/package";

    sim::PackageOptions packageOptions;
    packageOptions.seed = options.seed;
    if (options.systemSize > 0) packageOptions.systemSize = static_cast<uint32_t>(options.systemSize);
    std::string error;
    if (!sim::MakePackage(package, packageOptions, error)) {
        std::cerr << "fwupgrade demo: cannot write the package: " << error << "\n";
        return kExitOther;
    }
    out << "Package: " << package << "\n";

    const std::string cardsim = FindCardsim();
    if (cardsim.empty()) {
        std::cerr << "fwupgrade demo: the cardsim program was not found (set FWUPGRADE_CARDSIM)\n";
        return kExitOther;
    }
    const uint32_t scale = static_cast<uint32_t>(std::max(options.clockScale, 1));
    const std::vector<std::string> timing = {
        "--leave-delay", std::to_string(std::max<uint32_t>(kLeaveDelayMs / scale, 1)),
        "--reenum-delay", std::to_string(std::max<uint32_t>(kReenumerationDelayMs / scale, 1)),
    };
    const size_t count = std::max<size_t>(options.cards, 1);
    std::vector<std::unique_ptr<CardProcess>> cards;
    std::vector<std::string> links;
    for (size_t i = 0; i < count; ++i) {
        const std::string name = count == 1 ? std::string("card") : "card" + std::to_string(i);
        cards.push_back(std::make_unique<CardProcess>());
        links.push_back(folder + "/" + name);
        if (!cards.back()->Start(cardsim, links.back(), folder + "/" + name + "-state.json", timing,
                                 folder + "/" + name + "-cardsim.log", error)) {
            std::cerr << "fwupgrade demo: " << error << "\n";
            return kExitOther;
        }
        out << "Virtual card: " << links.back() << " (cardsim, state in " << folder << "/" << name << "-state.json)\n";
    }

    // The plug-in reads its clock when it loads: only for the virtual card.
    if (scale > 1) ::setenv("FWUPGRADE_CLOCK_SCALE", std::to_string(scale).c_str(), 0);
    // The lock backup file lands in the current folder: the demo's own.
    char previous[4096];
    const bool haveCwd = ::getcwd(previous, sizeof previous) != nullptr;
    if (::chdir(folder.c_str()) != 0) {
        std::cerr << "fwupgrade demo: cannot enter " << folder << "\n";
        return kExitOther;
    }
    out << "Flashing...\n";
    out.flush();
    int status = kExitOk;
    if (count == 1) {
        SingleRunRequest request;
        request.device = links[0];
        request.package = package;
        request.logFile = folder + "/fwupgrade.log";
        request.pluginPath = options.pluginPath;
        request.command = "fwupgrade demo";
        status = RunSingleCard(request, out).exitStatus;
    } else {
        UpgradeOptions several;
        several.devices = links;
        several.package = package;
        several.workRoot = folder + "/cards";
        several.pluginPath = options.pluginPath;
        several.commandLine = "fwupgrade demo --cards " + std::to_string(count);
        status = RunUpgrade(several);
    }
    if (haveCwd && ::chdir(previous) != 0) {
        // The demo's results are all absolute paths; nothing depends on it.
    }

    bool verified = true;
    for (size_t i = 0; i < count; ++i) {
        sim::CardData data;
        bool newFirmware = false;
        size_t violations = 0;
        if (!cards[i]->Stop(data, newFirmware, violations, error)) {
            std::cerr << "fwupgrade demo: " << links[i] << ": " << error << "\n";
            return kExitOther;
        }
        if (status != kExitOk) continue;
        const sim::FlashCheck check = sim::CheckFlashAgainstPackage(data, package, newFirmware);
        const std::string prefix = count == 1 ? std::string() : links[i] + ": ";
        for (const auto& problem : check.problems) out << "  " << prefix << "flash: " << problem << "\n";
        if (violations > 0) out << "  " << prefix << "the card recorded " << violations << " protocol violation(s)\n";
        if (!check.ok || violations > 0) verified = false;
        if (!newFirmware) out << "  " << prefix << "the card was not restarted into the new firmware\n";
    }
    if (status == kExitOk && verified) {
        out << "Verification: PASSED - the flash of " << (count == 1 ? "the card" : std::to_string(count) + " cards")
            << " matches the package and " << (count == 1 ? "it runs" : "each runs") << " the new firmware.\n";
    } else if (status == kExitOk) {
        out << "Verification: FAILED - see " << folder << "\n";
        status = kExitFailed;
    } else {
        out << "Verification: not done, the upgrade did not succeed.\n";
    }
    if (ownFolder && !options.keep && status == kExitOk) {
        std::filesystem::remove_all(folder, ec);
        out << "The demo's temporary folder was removed (keep it with --keep).\n";
    } else {
        out << "The demo's files are in " << folder << "\n";
    }
    return status;
}

}  // namespace fwupgrade

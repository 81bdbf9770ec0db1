// fwupgrade demo: a generated package, the virtual card on a pseudo-terminal,
// a real upgrade through the plug-in with progress, and the card's flash
// checked against the package afterwards.
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <iostream>

#include "host/fwupgrade/CardProcess.h"
#include "host/fwupgrade/Commands.h"
#include "host/fwupgrade/FailureReport.h"
#include "host/fwupgrade/PackageView.h"
#include "host/fwupgrade/SingleRun.h"
#include "sim/PackageMaker.h"

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
    const std::string link = folder + "/card";
    CardProcess card;
    if (!card.Start(cardsim, link, folder + "/card-state.json", timing, folder + "/cardsim.log", error)) {
        std::cerr << "fwupgrade demo: " << error << "\n";
        return kExitOther;
    }
    out << "Virtual card: " << link << " (cardsim, state in " << folder << "/card-state.json)\n";

    // The plug-in reads its clock when it loads: only for the virtual card.
    if (scale > 1) ::setenv("FWUPGRADE_CLOCK_SCALE", std::to_string(scale).c_str(), 0);
    // The lock backup file lands in the current folder: the demo's own.
    char previous[4096];
    const bool haveCwd = ::getcwd(previous, sizeof previous) != nullptr;
    if (::chdir(folder.c_str()) != 0) {
        std::cerr << "fwupgrade demo: cannot enter " << folder << "\n";
        return kExitOther;
    }
    SingleRunRequest request;
    request.device = link;
    request.package = package;
    request.logFile = folder + "/fwupgrade.log";
    request.pluginPath = options.pluginPath;
    out << "Flashing...\n";
    out.flush();
    const RunResult result = RunSingleCard(request, out);
    out << SummaryText(result);

    sim::CardData data;
    bool newFirmware = false;
    size_t violations = 0;
    const bool stateRead = card.Stop(data, newFirmware, violations, error);
    if (haveCwd && ::chdir(previous) != 0) {
        // The demo's results are all absolute paths; nothing depends on it.
    }
    if (!stateRead) {
        std::cerr << "fwupgrade demo: " << error << "\n";
        return kExitOther;
    }

    int status = result.exitStatus;
    if (status == kExitOk) {
        const sim::FlashCheck check = sim::CheckFlashAgainstPackage(data, package, newFirmware);
        for (const auto& problem : check.problems) out << "  flash: " << problem << "\n";
        if (violations > 0) out << "  the card recorded " << violations << " protocol violation(s)\n";
        if (check.ok && violations == 0) {
            out << "Verification: PASSED - the card's flash matches the package"
                << (newFirmware ? " and the card runs the new firmware" : "") << ".\n";
        } else {
            out << "Verification: FAILED - see " << folder << "\n";
            status = kExitFailed;
        }
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

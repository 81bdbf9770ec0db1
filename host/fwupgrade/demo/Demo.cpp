// fwupgrade demo: a generated package, the virtual card on a pseudo-terminal,
// a real upgrade through the plug-in with progress, and the card's flash
// checked against the package afterwards.
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

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

// The demo's folder, its package and its virtual cards.
struct DemoBench {
    std::string folder;
    bool ownFolder = false;
    std::string package;
    std::vector<std::unique_ptr<CardProcess>> cards;
    std::vector<std::string> links;
};

bool Fail(const std::string& what) {
    std::cerr << "fwupgrade demo: " << what << "\n";
    return false;
}

bool MakeFolderAndPackage(const DemoOptions& options, DemoBench& bench, std::ostream& out) {
    bench.ownFolder = options.folder.empty();
    bench.folder = bench.ownFolder ? MakeTempFolder() : AbsolutePath(options.folder);
    std::error_code ec;
    if (bench.folder.empty() || (!bench.ownFolder && !std::filesystem::create_directories(bench.folder, ec) && ec))
        return Fail("cannot create a working folder");
    bench.package = bench.folder + "/package";
    sim::PackageOptions packageOptions;
    packageOptions.seed = options.seed;
    if (options.systemSize > 0) packageOptions.systemSize = static_cast<uint32_t>(options.systemSize);
    std::string error;
    if (!sim::MakePackage(bench.package, packageOptions, error)) return Fail("cannot write the package: " + error);
    out << "Package: " << bench.package << "\n";
    return true;
}

bool StartCards(size_t count, uint32_t scale, DemoBench& bench, std::ostream& out) {
    const std::string cardsim = FindCardsim();
    if (cardsim.empty()) return Fail("the cardsim program was not found (set FWUPGRADE_CARDSIM)");
    const std::vector<std::string> timing = {
        "--leave-delay", std::to_string(std::max<uint32_t>(kLeaveDelayMs / scale, 1)),
        "--reenum-delay", std::to_string(std::max<uint32_t>(kReenumerationDelayMs / scale, 1)),
    };
    std::string error;
    for (size_t i = 0; i < count; ++i) {
        const std::string name = count == 1 ? std::string("card") : "card" + std::to_string(i);
        const std::string base = bench.folder + "/" + name;
        bench.cards.push_back(std::make_unique<CardProcess>());
        bench.links.push_back(base);
        if (!bench.cards.back()->Start(cardsim, base, base + "-state.json", timing, base + "-cardsim.log", error))
            return Fail(error);
        out << "Virtual card: " << base << " (cardsim, state in " << base << "-state.json)\n";
    }
    return true;
}

// One card as `upgrade` flashes one; several as its several-card form does.
int Flash(const DemoOptions& options, const DemoBench& bench) {
    const size_t count = bench.links.size();
    if (count == 1) {
        SingleRunRequest request;
        request.device = bench.links[0];
        request.package = bench.package;
        request.logFile = bench.folder + "/fwupgrade.log";
        request.pluginPath = options.pluginPath;
        request.command = "fwupgrade demo";
        return RunSingleCard(request, std::cout).exitStatus;
    }
    UpgradeOptions several;
    several.devices = bench.links;
    several.package = bench.package;
    several.workRoot = bench.folder + "/cards";
    several.pluginPath = options.pluginPath;
    several.commandLine = "fwupgrade demo --cards " + std::to_string(count);
    return RunUpgrade(several);
}

// Stops the cards; after a good run, checks each card's flash against the
// package. False when a card could not be stopped.
bool StopAndCheckCards(DemoBench& bench, bool flashed, bool& verified, std::ostream& out) {
    const size_t count = bench.links.size();
    verified = true;
    std::string error;
    for (size_t i = 0; i < count; ++i) {
        sim::CardData data;
        bool newFirmware = false;
        size_t violations = 0;
        if (!bench.cards[i]->Stop(data, newFirmware, violations, error)) return Fail(bench.links[i] + ": " + error);
        if (!flashed) continue;
        const sim::FlashCheck check = sim::CheckFlashAgainstPackage(data, bench.package, newFirmware);
        const std::string prefix = count == 1 ? std::string() : bench.links[i] + ": ";
        for (const auto& problem : check.problems) out << "  " << prefix << "flash: " << problem << "\n";
        if (violations > 0) out << "  " << prefix << "the card recorded " << violations << " protocol violation(s)\n";
        if (!check.ok || violations > 0) verified = false;
        if (!newFirmware) out << "  " << prefix << "the card was not restarted into the new firmware\n";
    }
    return true;
}

int ReportVerdict(const DemoOptions& options, const DemoBench& bench, int status, bool verified, std::ostream& out) {
    const size_t count = bench.links.size();
    if (status == kExitOk && verified) {
        out << "Verification: PASSED - the flash of " << (count == 1 ? "the card" : std::to_string(count) + " cards")
            << " matches the package and " << (count == 1 ? "it runs" : "each runs") << " the new firmware.\n";
    } else if (status == kExitOk) {
        out << "Verification: FAILED - see " << bench.folder << "\n";
        status = kExitFailed;
    } else {
        out << "Verification: not done, the upgrade did not succeed.\n";
    }
    std::error_code ec;
    if (bench.ownFolder && !options.keep && status == kExitOk) {
        std::filesystem::remove_all(bench.folder, ec);
        out << "The demo's temporary folder was removed (keep it with --keep).\n";
    } else {
        out << "The demo's files are in " << bench.folder << "\n";
    }
    return status;
}

}  // namespace

int RunDemo(const DemoOptions& options) {
    std::ostream& out = std::cout;
    const uint32_t scale = static_cast<uint32_t>(std::max(options.clockScale, 1));
    DemoBench bench;
    if (!MakeFolderAndPackage(options, bench, out) || !StartCards(std::max<size_t>(options.cards, 1), scale, bench, out))
        return kExitOther;
    // The plug-in reads its clock when it loads: only for the virtual card.
    if (scale > 1) ::setenv("FWUPGRADE_CLOCK_SCALE", std::to_string(scale).c_str(), 0);
    // The lock backup file lands in the current folder: the demo's own.
    char previous[4096];
    const bool haveCwd = ::getcwd(previous, sizeof previous) != nullptr;
    if (::chdir(bench.folder.c_str()) != 0) {
        Fail("cannot enter " + bench.folder);
        return kExitOther;
    }
    out << "Flashing...\n";
    out.flush();
    const int status = Flash(options, bench);
    if (haveCwd && ::chdir(previous) != 0) {
        // The demo's results are all absolute paths; nothing depends on it.
    }
    bool verified = false;
    if (!StopAndCheckCards(bench, status == kExitOk, verified, out)) return kExitOther;
    return ReportVerdict(options, bench, status, verified, out);
}

}  // namespace fwupgrade

// The fixture of the tests that run the built fwupgrade against cardsim on
// pseudo-terminals: a package, a run folder, a state folder, cards.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "ProcessRunner.h"
#include "tests/support/TempFolder.h"
#include "host/fwupgrade/demo/CardProcess.h"
#include "sim/frontends/PackageMaker.h"

namespace fwupgrade {

using testing::Lines;
using testing::ProcessOutcome;
using testing::RunProcess;
using test_support::TempFolder;
namespace fs = std::filesystem;

constexpr int kTimeout = 120;
constexpr int kClockScale = 8;
inline const std::vector<std::string> kFastCard = {"--leave-delay", std::to_string(100 / kClockScale), "--reenum-delay",
                                            std::to_string(1500 / kClockScale)};

class FwupgradeCli : public ::testing::Test {
protected:
    void SetUp() override {
        fs::create_directories(temp_ / "run");
        std::string error;
        sim::PackageOptions options;
        options.seed = 11;
        ASSERT_TRUE(sim::MakePackage(Package(), options, error)) << error;
    }

    std::string Package() const { return temp_ / "package"; }
    std::string RunFolder() const { return temp_ / "run"; }
    std::string StateHome() const { return temp_ / "state"; }

    testing::Environment RunEnvironment(testing::Environment extra = {}) const {
        extra.insert(extra.begin(), {{"FWUPGRADE_REGISTRY_ROOT", temp_ / "registry"},
                                     {"FWUPGRADE_CLOCK_SCALE", std::to_string(kClockScale)},
                                     {"FWUPGRADE_CARDSIM", CARDSIM_EXE},
                                     {"XDG_STATE_HOME", StateHome()},
                                     {"XDG_DATA_HOME", temp_ / "data"},
                                     // The machine's own USB devices stay out of the tests.
                                     {"FWUPGRADE_SYSFS_ROOT", temp_ / "sys"},
                                     {"FWUPGRADE_DEV_ROOT", temp_ / "dev"},
                                     // Nor is the machine's ModemManager asked, unless a test brings its own.
                                     {"FWUPGRADE_DBUS_ADDRESS", std::getenv("FWUPGRADE_DBUS_ADDRESS") != nullptr
                                                                    ? std::string(std::getenv("FWUPGRADE_DBUS_ADDRESS"))
                                                                    : "unix:path=" + temp_ / "no-system-bus"},
                                     {"TERM", "dumb"}});
        return extra;
    }

    ProcessOutcome Fwupgrade(std::vector<std::string> args, testing::Environment env = {}) const {
        args.insert(args.begin(), FWUPGRADE_EXE);
        return RunProcess(args, RunFolder(), RunEnvironment(std::move(env)), kTimeout);
    }

    // The program in the background, to be watched and signalled.
    std::unique_ptr<testing::RunningProcess> Start(std::vector<std::string> args, testing::Environment env = {}) const {
        args.insert(args.begin(), FWUPGRADE_EXE);
        return std::make_unique<testing::RunningProcess>(args, RunFolder(), RunEnvironment(std::move(env)));
    }

    // Starts a card on <temp>/<name>; returns the link.
    std::string StartCard(CardProcess& card, const std::string& name, std::vector<std::string> extra = {}) const {
        extra.insert(extra.end(), kFastCard.begin(), kFastCard.end());
        std::string error;
        const std::string link = temp_ / name;
        EXPECT_TRUE(card.Start(CARDSIM_EXE, link, temp_ / (name + "-state.json"), extra, temp_ / (name + ".log"), error))
            << error;
        return link;
    }

    // Stops the card and checks its flash against the package.
    void ExpectFlashed(CardProcess& card, const std::string& what) const {
        sim::CardData data;
        bool newFirmware = false;
        size_t violations = 0;
        std::string error;
        ASSERT_TRUE(card.Stop(data, newFirmware, violations, error)) << what << ": " << error;
        EXPECT_TRUE(newFirmware) << what;
        EXPECT_EQ(violations, 0u) << what;
        const sim::FlashCheck check = sim::CheckFlashAgainstPackage(data, Package(), newFirmware);
        EXPECT_TRUE(check.ok) << what << ": " << (check.problems.empty() ? "" : check.problems.front());
    }

    TempFolder temp_;
};

// Percentages of plain progress lines ("45%"), in order.
inline std::vector<int> Percentages(const std::string& out, const std::string& prefix = "") {
    std::vector<int> values;
    for (const auto& line : Lines(out)) {
        if (line.size() < prefix.size() + 2 || line.compare(0, prefix.size(), prefix) != 0 || line.back() != '%') continue;
        const std::string number = line.substr(prefix.size(), line.size() - prefix.size() - 1);
        if (number.find_first_not_of("0123456789") == std::string::npos) values.push_back(std::stoi(number));
    }
    return values;
}

// A plain progress line ("45%") at or above `percent`.
inline auto ProgressAtLeast(int percent) {
    return [percent](const std::string& line) {
        const std::vector<int> value = Percentages(line + "\n");
        return !value.empty() && value.front() >= percent;
    };
}

// The card's own data: the NV items it can write, the Wi-Fi address and the
// lock files of a default card (item 96 cleared when a Q7k upgrade ran).
inline void ExpectOwnData(const sim::CardData& now, bool q7kUpgradeRan) {
    sim::CardData own = sim::DefaultCardData();
    if (q7kUpgradeRan) own.nv.at(96).data.fill(0);
    EXPECT_EQ(now.wifi, own.wifi);
    EXPECT_EQ(now.efsFiles, own.efsFiles);
    for (const auto& [item, nv] : own.nv) {
        if (!nv.inactive) {
            EXPECT_EQ(now.nv.at(item).data, nv.data) << "NV item " << item;
        }
    }
}

inline auto Contains(const std::string& text) {
    return [text](const std::string& line) { return line.find(text) != std::string::npos; };
}

}  // namespace fwupgrade

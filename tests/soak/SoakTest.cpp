// Many upgrades in one host process, as a host application that stays open
// all day runs them: the plug-in is loaded once, every run talks to a fresh
// virtual card on a pseudo-terminal, runs that fail (no card on the port, an
// NV item the card refuses, a card that never comes back, a block the card
// keeps refusing, a package that is not there) are mixed with runs that
// succeed, and after every run the process's resident
// memory and open descriptors are read. After a warm-up both must stay flat.
#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "host/fwupgrade/demo/CardProcess.h"
#include "host/kit/HostKit.h"
#include "host/kit/ProcessFootprint.h"
#include "platform/Platform.h"
#include "sim/frontends/PackageMaker.h"
#include "tests/support/TempFolder.h"

namespace {

namespace fs = std::filesystem;
using test_support::TempFolder;

constexpr int32_t kPort = 3;
constexpr int32_t kSucceeded = 0;
constexpr int32_t kRejected = -13313;
constexpr int32_t kFailed = -13314;

// Both sides shortened by the same factor, so the card's bus delays keep
// their proportion to the module's pauses. Much faster, and the 10 ms in
// which the module lets an answer stop growing before it reads it shrinks
// below the delay with which a loaded machine passes the card's bytes
// through the terminal: answers are read in part and runs fail that would
// not fail in real time (seen at 25 under a load of 8 on two cores).
constexpr uint32_t kClockScale = FWUP_SOAK_CLOCK_SCALE;
constexpr uint32_t kLeaveDelayMs = 100 / kClockScale;
constexpr uint32_t kReenumerationDelayMs = 1500 / kClockScale;

// Runs whose samples set the baseline: every kind of run has happened by then.
constexpr size_t kWarmUp = 20;
// A leak of one descriptor per run exceeds this after three runs.
constexpr size_t kDescriptorTolerance = 2;
// Allocator noise stays well below this; a lost channel.nvm buffer (800 KiB)
// per run exceeds it within three runs.
constexpr size_t kResidentToleranceKiB = 2048;

struct RunKind {
    const char* name;
    std::vector<std::string> faults;   // cardsim arguments
    bool withCard;
    bool missingPackage;
    int32_t expected;
};

// A success in every ten runs: a full run takes most of the soak's time,
// while the failure paths, where a descriptor or a buffer is most easily
// lost, are quick.
const std::vector<std::string> kNv22Refused = {"--fault", "nv_refuse:item=22,command=0x26,count=0"};
const std::vector<std::string> kCardGone = {"--fault", "reenum_missing"};
const std::vector<std::string> kSystemBlockRefused = {"--fault", "bad_block:image=system.img,value=1,count=0"};
const RunKind kSuccess = {"success", {}, true, false, kSucceeded};
const RunKind kNoCard = {"no card on the port", {}, false, false, kFailed};
const RunKind kNv22 = {"NV item 22 refused", kNv22Refused, true, false, kFailed};
const RunKind kNoPackage = {"package folder missing", {}, false, true, kRejected};
const RunKind kKinds[] = {
    kSuccess, kNoCard, kNv22, kNoPackage, {"card gone after the switch to its downloader", kCardGone, true, false, kFailed},
    kNoCard,  kNv22,   kNoPackage, kNoCard, kNv22,
    kSuccess, kNoCard, kNv22, kNoPackage, {"a system.img block refused every time", kSystemBlockRefused, true, false, kFailed},
    kNoCard,  kNv22,   kNoPackage, kNoCard, kNv22,
};
constexpr size_t kKindCount = sizeof kKinds / sizeof kKinds[0];

class Soak : public ::testing::Test {
protected:
    void SetUp() override {
        sim::PackageOptions options;
        options.seed = 23;
        std::string error;
        ASSERT_TRUE(sim::MakePackage(temp_ / "package", options, error)) << error;
        // The module reads the scale when it loads and the other variables per run.
        ::setenv("FWUPGRADE_CLOCK_SCALE", std::to_string(kClockScale).c_str(), 1);
        ::setenv("FWUPGRADE_PORT_PATTERN", (temp_ / "card").c_str(), 1);
        ::setenv("XDG_DATA_HOME", (temp_ / "data").c_str(), 1);
        // The lock backup file is written into the current folder.
        ASSERT_EQ(::chdir((temp_ / "").c_str()), 0);
        ASSERT_TRUE(host_.StartManager());
        ASSERT_TRUE(host_.LoadPlugin()) << hostkit::DefaultPluginPath();
    }

    // One run of the given kind; failures name the run.
    void Run(size_t index, const RunKind& kind) {
        const std::string what = "run " + std::to_string(index) + " (" + kind.name + ")";
        fwupgrade::CardProcess card;
        if (kind.withCard) {
            std::vector<std::string> arguments = {"--leave-delay", std::to_string(kLeaveDelayMs), "--reenum-delay",
                                                  std::to_string(kReenumerationDelayMs)};
            arguments.insert(arguments.end(), kind.faults.begin(), kind.faults.end());
            std::string error;
            ASSERT_TRUE(card.Start(CARDSIM_EXE, temp_ / "card", temp_ / "card-state.json", arguments,
                                   temp_ / "cardsim.log", error))
                << what << ": " << error;
        }
        const std::string package = kind.missingPackage ? temp_ / "no-package" : temp_ / "package";
        const hostkit::UpgradeAnswer answer = host_.RunUpgrade(kPort, platform::Utf8ToWide(package));
        EXPECT_EQ(answer.handled, 0) << what;
        EXPECT_EQ(answer.result, kind.expected) << what << "; the trace ends:\n" << TraceEnd();
        host_.Log().Clear();
        host_.Display().Clear();
        if (kind.withCard) ExpectCard(card, kind, what);
    }

    void ExpectCard(fwupgrade::CardProcess& card, const RunKind& kind, const std::string& what) {
        sim::CardData data;
        bool newFirmware = false;
        size_t violations = 0;
        std::string error;
        ASSERT_TRUE(card.Stop(data, newFirmware, violations, error)) << what << ": " << error;
        // A failed run may leave the card mid-transfer, where whatever comes next breaks its protocol.
        if (kind.expected != kSucceeded) return;
        EXPECT_EQ(violations, 0u) << what << ": " << ViolationTexts();
        EXPECT_TRUE(newFirmware) << what;
        const sim::FlashCheck check = sim::CheckFlashAgainstPackage(data, temp_ / "package", newFirmware);
        EXPECT_TRUE(check.ok) << what << ": " << (check.problems.empty() ? "" : check.problems.front());
    }

    std::string TraceEnd() const {
        constexpr size_t kLines = 12;
        const std::vector<std::u16string> messages = host_.Log().Messages();
        std::string text;
        for (size_t i = messages.size() > kLines ? messages.size() - kLines : 0; i < messages.size(); ++i)
            text += "  " + platform::WideToUtf8(messages[i]) + "\n";
        return text;
    }

    std::string ViolationTexts() const {
        std::ifstream in(temp_ / "card-state.json");
        const nlohmann::json state = nlohmann::json::parse(in, nullptr, false);
        std::string texts;
        if (state.is_object() && state.contains("violations"))
            for (const auto& violation : state["violations"]) texts += violation.value("text", "") + "; ";
        return texts;
    }

    TempFolder temp_;
    mutable hostkit::HostSession host_;
};

TEST_F(Soak, MemoryAndDescriptorsStayFlatOverManyRuns) {
    std::vector<hostkit::Footprint> samples;
    samples.reserve(FWUP_SOAK_RUNS);
    for (size_t run = 0; run < FWUP_SOAK_RUNS; ++run) {
        const RunKind& kind = kKinds[run % kKindCount];
        const auto started = std::chrono::steady_clock::now();
        ASSERT_NO_FATAL_FAILURE(Run(run, kind));
        if (HasFailure()) return;
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - started;
        samples.push_back(hostkit::ReadFootprint());
        ASSERT_TRUE(samples.back().valid) << "/proc/self cannot be read";
        std::printf("run %zu (%s): %.2f s, %zu descriptors, %zu KiB resident\n", run, kind.name, took.count(),
                    samples.back().descriptors, samples.back().residentKiB);
    }
    const hostkit::Flatness descriptors =
        hostkit::CheckFlat(hostkit::DescriptorSeries(samples), kWarmUp, kDescriptorTolerance);
    const hostkit::Flatness resident =
        hostkit::CheckFlat(hostkit::ResidentSeries(samples), kWarmUp, kResidentToleranceKiB);
    std::printf("soak: %d runs; descriptors first %zu, last %zu (%s); resident KiB first %zu, last %zu (%s)\n",
                FWUP_SOAK_RUNS, samples.front().descriptors, samples.back().descriptors, descriptors.text.c_str(),
                samples.front().residentKiB, samples.back().residentKiB, resident.text.c_str());
    EXPECT_TRUE(descriptors.flat) << "descriptors: " << descriptors.text;
#if FWUP_SOAK_CHECKS_RESIDENT
    EXPECT_TRUE(resident.flat) << "resident memory: " << resident.text;
#else
    std::printf("soak: resident memory not checked: the sanitizer's quarantine holds freed memory on purpose\n");
#endif
}

}  // namespace

// A module, a packet and a virtual card on COM 7, on virtual time, with a
// generated package: the ground for the operation tests.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>

#include <memory>
#include <string>
#include <vector>

#include "tests/support/TempFolder.h"
#include "TraceCapture.h"
#include "packet/Packet.h"
#include "platform/Platform.h"
#include "tests/support/TestClocks.h"
#include "sim/frontends/InProcessPort.h"
#include "sim/frontends/PackageMaker.h"
#include "upgrade/run/UpgradeModule.h"

namespace upgrade_test {

using test_support::TempFolder;

constexpr int32_t kCardPort = 7;

// True when `wanted` appears in `all` in order (other values may come between).
inline bool ContainsInOrder(const std::vector<uint32_t>& all, const std::vector<uint32_t>& wanted) {
    size_t next = 0;
    for (uint32_t v : all)
        if (next < wanted.size() && v == wanted[next]) ++next;
    return next == wanted.size();
}

class CardFixture : public ::testing::Test {
protected:
    void SetUp() override {
        platform::SetClock(&clock_);
        platform::SetComPortOpener(&opener_);
        ASSERT_TRUE(upgrade::UpgradeModule::ExtractProgrammer());
    }
    void TearDown() override {
        packet_.reset();
        platform::SetComPortOpener(nullptr);
        platform::SetClock(nullptr);
    }

    void StartCard(sim::CardData data = sim::DefaultCardData(), sim::FaultPlan faults = {}) {
        card_ = sim::MakeCard(std::move(data), sim::CardTiming{}, std::move(faults));
        opener_.Attach(kCardPort, card_);
    }
    static sim::FaultPlan Faults(std::initializer_list<const char*> rules) {
        sim::FaultPlan plan;
        for (const char* rule : rules) plan.rules.push_back(sim::ParseFaultOption(rule));
        return plan;
    }
    void MakePackage(sim::PackageOptions options = {}) {
        std::string error;
        ASSERT_TRUE(sim::MakePackage(package_.path(), options, error)) << error;
        ASSERT_TRUE(module_.Images().Initialize(package_.Wide()));
        ASSERT_TRUE(module_.Images().SelectArmprgAccordingToPidVid(package_.Wide()));
    }
    // Takes the card to its flash programmer, as the run does before the images.
    void ReachProgrammer() {
        ASSERT_TRUE(module_.Port().InitPort(*packet_, kCardPort));
        ASSERT_TRUE(module_.Switch().SwitchToDownload(*packet_));
        ASSERT_TRUE(module_.Programmer().DownloadArmPrg(*packet_));
        ASSERT_TRUE(module_.Programmer().GoToFlashPrg(*packet_));
        ASSERT_TRUE(packet_->SecurityMode());
        ASSERT_EQ(card_->Mode(), sim::CardMode::FlashProgrammer);
        clock_.ClearPauses();
        progress_.clear();
        trace_.Clear();
    }
    std::vector<std::string> Violations() const {
        std::vector<std::string> out;
        for (const sim::Violation& v : card_->Violations()) out.push_back(v.mode + ": " + v.text);
        return out;
    }

    platform::RecordingClock clock_;
    sim::InProcessPortOpener opener_;
    std::shared_ptr<sim::Card> card_;
    TempFolder package_;
    TraceCapture trace_;
    std::vector<int> progress_;
    upgrade::UpgradeModule module_{[this](int percent) { progress_.push_back(percent); }};
    std::unique_ptr<packet::CPacket> packet_ = std::make_unique<packet::CPacket>();
};

}  // namespace upgrade_test

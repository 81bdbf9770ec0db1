// The fixture of the station's bus tests: a package, cards on USB ports
// (cardsim on pseudo-terminals, shown in a stand-in sysfs and /dev that
// fwupgrade resolves), the same ports on umockdev's bus for libudev, and the
// station in the background.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "StationProcess.h"
#include "UsbTestbed.h"
#include "host/fwupgrade/demo/CardProcess.h"
#include "packet/CardIdentity.h"
#include "tests/support/TempFolder.h"

namespace fwupgrade::station_tests {

constexpr int kTimeout = 180;
constexpr int kClockScale = 8;

class StationRuns : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    std::string Package() const { return temp_ / "package"; }
    std::string Sys() const { return temp_ / "sys"; }
    std::string Dev() const { return temp_ / "dev"; }
    std::string WorkRoot() const { return temp_ / "work"; }
    std::string Transcript(const std::string& port) const { return temp_ / (port + ".transcript"); }

    // A card in its firmware on `port`: cardsim, then its USB device on the
    // bus (announced, or there already when the station starts).
    CardProcess& PlugCard(const std::string& port, std::vector<std::string> extra = {}, bool announce = true,
                          uint16_t product = packet::kCardFirmwareIdentity.product);
    // The card is pulled: its USB device goes, and its cardsim ends.
    void PullCard(const std::string& port);

    std::unique_ptr<StationProcess> StartStation(std::vector<std::string> extra = {});
    // Ends the station with one SIGINT once its cards are done; its exit status.
    int EndStation(StationProcess& station);

    // Stops the card and checks its flash against the package; a card that
    // was made to fail may have seen requests break off.
    void ExpectFlashed(const std::string& port, bool faultInjected = false);
    // The card heard nothing at all.
    void ExpectUntouched(const std::string& port) const;

    test_support::TempFolder temp_;
    std::unique_ptr<UsbTestbed> bus_;
    std::map<std::string, std::unique_ptr<CardProcess>> cards_;
};

// The percent of a progress event.
int PercentOf(const nlohmann::json& event);

}  // namespace fwupgrade::station_tests

#include "StationFixture.h"

#include <csignal>
#include <fstream>
#include <sstream>

#include "sim/frontends/PackageMaker.h"

namespace fwupgrade::station_tests {

namespace fs = std::filesystem;

namespace {

const std::vector<std::string> kFastCard = {"--leave-delay", std::to_string(100 / kClockScale), "--reenum-delay",
                                            std::to_string(1500 / kClockScale)};

}  // namespace

void StationRuns::SetUp() {
    if (!UnderUmockdev()) GTEST_SKIP() << "umockdev-wrapper is not installed (Debian package umockdev)";
    bus_ = std::make_unique<UsbTestbed>();
    fs::create_directories(Sys());
    fs::create_directories(Dev());
    fs::create_directories(temp_ / "run");
    sim::PackageOptions options;
    options.seed = 11;
    std::string error;
    ASSERT_TRUE(sim::MakePackage(Package(), options, error)) << error;
}

void StationRuns::TearDown() { cards_.clear(); }

CardProcess& StationRuns::PlugCard(const std::string& port, std::vector<std::string> extra, bool announce,
                                   uint16_t product) {
    auto card = std::make_unique<CardProcess>();
    extra.insert(extra.end(), kFastCard.begin(), kFastCard.end());
    extra.insert(extra.end(), {"--usb-sysfs", Sys(), "--usb-devfs", Dev(), "--usb-port", port, "--transcript",
                               Transcript(port)});
    std::string error;
    EXPECT_TRUE(card->Start(CARDSIM_EXE, temp_ / (port + ".link"), temp_ / (port + "-state.json"), extra,
                            temp_ / (port + ".log"), error))
        << error;
    bus_->Plug(port, packet::kCardVendor, product, announce);
    return *(cards_[port] = std::move(card));
}

void StationRuns::PullCard(const std::string& port) {
    bus_->Unplug(port);
    cards_.erase(port);
}

std::unique_ptr<StationProcess> StationRuns::StartStation(std::vector<std::string> extra) {
    std::vector<std::string> args = {FWUPGRADE_EXE, "station", "--json", "--package", Package(), "--work-dir",
                                     WorkRoot()};
    args.insert(args.end(), extra.begin(), extra.end());
    const Environment env = {{"FWUPGRADE_REGISTRY_ROOT", temp_ / "registry"},
                             {"FWUPGRADE_CLOCK_SCALE", std::to_string(kClockScale)},
                             {"XDG_STATE_HOME", temp_ / "state"},
                             {"XDG_DATA_HOME", temp_ / "data"},
                             {"FWUPGRADE_SYSFS_ROOT", Sys()},
                             {"FWUPGRADE_DEV_ROOT", Dev()},
                             {"FWUPGRADE_DBUS_ADDRESS", "unix:path=" + temp_ / "no-system-bus"},
                             {"TERM", "dumb"}};
    auto station = std::make_unique<StationProcess>(args, temp_ / "run", env, temp_ / "station.err");
    EXPECT_TRUE(bus_->WaitForListener()) << "the station does not listen for uevents";
    return station;
}

int StationRuns::EndStation(StationProcess& station) {
    station.Signal(SIGINT);
    return station.Wait(kTimeout);
}

void StationRuns::ExpectFlashed(const std::string& port, bool faultInjected) {
    const auto card = cards_.find(port);
    ASSERT_NE(card, cards_.end()) << port;
    sim::CardData data;
    bool newFirmware = false;
    size_t violations = 0;
    std::string error;
    ASSERT_TRUE(card->second->Stop(data, newFirmware, violations, error)) << port << ": " << error;
    EXPECT_TRUE(newFirmware) << port;
    std::ifstream state(temp_ / (port + "-state.json"));
    std::stringstream stateText;
    stateText << state.rdbuf();
    if (!faultInjected) {
        EXPECT_EQ(violations, 0u) << port << ": " << stateText.str().substr(stateText.str().find("\"violations\""), 600);
    }
    const sim::FlashCheck check = sim::CheckFlashAgainstPackage(data, Package(), newFirmware);
    EXPECT_TRUE(check.ok) << port << ": " << (check.problems.empty() ? "" : check.problems.front());
}

void StationRuns::ExpectUntouched(const std::string& port) const {
    std::ifstream transcript(Transcript(port));
    std::stringstream text;
    text << transcript.rdbuf();
    EXPECT_EQ(text.str().find(" < "), std::string::npos) << port << " was sent:\n" << text.str();
}

int PercentOf(const nlohmann::json& event) { return event.value("percent", -1); }

}  // namespace fwupgrade::station_tests

// The station against cards coming and going on umockdev's bus: several at
// once, one plugged in while others run, one pulled mid-run, products it
// does not take, cards found outside their firmware, the queue, a stop on
// request and the first Ctrl-C.
#include <algorithm>
#include <csignal>
#include <filesystem>

#include "StationFixture.h"
#include "sim/card/CardData.h"
#include "upgrade/backup/BackupRecord.h"
#include "upgrade/run/ProgressAnchors.h"

namespace fwupgrade::station_tests {
namespace {

namespace fs = std::filesystem;

// The index in the station's events of the first event of `kind` for `port`.
size_t IndexOf(const StationProcess& station, const std::string& kind, const std::string& port) {
    const auto& events = station.Events();
    for (size_t i = 0; i < events.size(); ++i)
        if (Event(kind, port)(events[i])) return i;
    return events.size();
}

auto ProgressAtLeast(const std::string& port, int percent) {
    return [port, percent](const nlohmann::json& event) {
        return Event("progress", port)(event) && PercentOf(event) >= percent;
    };
}

TEST_F(StationRuns, CardsPluggedInBeforeAndWhileOthersRunAreEachFlashedOnce) {
    PlugCard("1-1.2", {}, false);
    PlugCard("1-1.3", {}, false);
    auto station = StartStation();
    ASSERT_TRUE(station->WaitFor(ProgressAtLeast("1-1.2", 10), kTimeout)) << station->Text();
    PlugCard("2-4");
    for (const std::string port : {"1-1.2", "1-1.3", "2-4"}) {
        ASSERT_TRUE(station->WaitFor(Event("result", port), kTimeout)) << port << "\n" << station->Text();
    }
    EXPECT_EQ(EndStation(*station), 0) << station->Text();
    for (const std::string port : {"1-1.2", "1-1.3", "2-4"}) {
        const auto appeared = station->EventsOf(port, "card_appeared");
        ASSERT_EQ(appeared.size(), 1u) << port << "\n" << station->Text();
        EXPECT_EQ(appeared[0]["identity"], "2e1a:0081");
        const auto results = station->EventsOf(port, "result");
        ASSERT_EQ(results.size(), 1u) << station->Text();
        EXPECT_EQ(results[0]["result"], "done") << results[0];
        EXPECT_TRUE(fs::exists(WorkRoot() + "/" + port + "/card0/fwupgrade.log")) << port;
        ExpectFlashed(port);
    }
    // The third card started while the first two ran.
    EXPECT_LT(IndexOf(*station, "card_appeared", "2-4"), IndexOf(*station, "result", "1-1.2")) << station->Text();
    const auto& last = station->Events().back();
    EXPECT_EQ(last["event"], "summary");
    EXPECT_EQ(last["flashed"], 3);
}

constexpr int kSwitchPercent = upgrade::kProgressSwitch;

TEST_F(StationRuns, TheCardsEsnShowsAsSoonAsTheRunHasReadItWhileTheRunGoesOn) {
    PlugCard("1-1.2", {}, false);
    auto station = StartStation();
    ASSERT_TRUE(station->WaitFor(Event("card", "1-1.2"), kTimeout)) << station->Text();
    EXPECT_TRUE(station->EventsOf("1-1.2", "result").empty()) << station->Text();
    const auto named = station->EventsOf("1-1.2", "card");
    ASSERT_EQ(named.size(), 1u) << station->Text();
    EXPECT_EQ(named[0]["esn"], upgrade::EsnText(sim::DefaultCardData().esn)) << named[0];
    EXPECT_EQ(named[0]["version"], sim::DefaultCardData().version) << named[0];
    ASSERT_TRUE(station->WaitFor(Event("result", "1-1.2"), kTimeout)) << station->Text();
    EXPECT_EQ(EndStation(*station), 0) << station->Text();
    // Named before the card left its firmware, and only once.
    const auto& events = station->Events();
    const size_t switched = std::find_if(events.begin(), events.end(), ProgressAtLeast("1-1.2", kSwitchPercent)) -
                            events.begin();
    EXPECT_LT(IndexOf(*station, "card", "1-1.2"), switched) << station->Text();
    EXPECT_EQ(station->EventsOf("1-1.2", "card").size(), 1u) << station->Text();
    EXPECT_EQ(station->EventsOf("1-1.2", "result")[0]["esn"], named[0]["esn"]);
}

TEST_F(StationRuns, ProductsTheModuleDoesNotTakeAreListedAndSentNothing) {
    auto station = StartStation();
    PlugCard("1-2", {}, true, 0x0099);
    ASSERT_TRUE(station->WaitFor(Event("not_supported", "1-2"), kTimeout)) << station->Text();
    bus_->Plug("1-3", 0x05c6, 0x9008);
    ASSERT_TRUE(station->WaitFor(Event("not_supported", "1-3"), kTimeout)) << station->Text();
    EXPECT_EQ(EndStation(*station), 0) << station->Text();
    EXPECT_EQ(station->EventsOf("1-2", "not_supported")[0]["identity"], "2e1a:0099");
    EXPECT_EQ(station->EventsOf("1-3", "not_supported")[0]["identity"], "05c6:9008");
    EXPECT_TRUE(station->EventsOf("1-2", "result").empty()) << station->Text();
    EXPECT_FALSE(fs::exists(WorkRoot() + "/1-2"));
    ExpectUntouched("1-2");
}

TEST_F(StationRuns, PortsOutsideTheUsbPortPatternsAreLeftAloneEntirely) {
    PlugCard("2-4", {}, false);
    auto station = StartStation({"--usb-port", "1-1.*"});
    bus_->Plug("2-5", 0x05c6, 0x9008);
    bus_->Plug("1-1.5", 0x05c6, 0x9008);
    // The last device plugged in is served: every one before it was seen.
    ASSERT_TRUE(station->WaitFor(Event("not_supported", "1-1.5"), kTimeout)) << station->Text();
    EXPECT_EQ(EndStation(*station), 0) << station->Text();
    EXPECT_TRUE(station->EventsOf("2-4").empty()) << station->Text();
    EXPECT_TRUE(station->EventsOf("2-5").empty()) << station->Text();
    EXPECT_FALSE(fs::exists(WorkRoot() + "/2-4"));
    ExpectUntouched("2-4");
}

TEST_F(StationRuns, ACardPulledMidRunIsReportedWithItsRescueAndTheOtherFinishes) {
    PlugCard("1-1.2", {}, false);
    PlugCard("1-1.3", {}, false);
    auto station = StartStation();
    // Past the switch: the pulled card is left outside its firmware.
    ASSERT_TRUE(station->WaitFor(ProgressAtLeast("1-1.2", 20), kTimeout)) << station->Text();
    PullCard("1-1.2");
    ASSERT_TRUE(station->WaitFor(Event("result", "1-1.2"), kTimeout)) << station->Text();
    ASSERT_TRUE(station->WaitFor(Event("result", "1-1.3"), kTimeout)) << station->Text();
    EXPECT_EQ(EndStation(*station), 4) << station->Text();
    const auto pulled = station->EventsOf("1-1.2", "result")[0];
    EXPECT_EQ(pulled["result"], "failed") << pulled;
    EXPECT_NE(pulled.value("command", "").find("fwupgrade rescue --usb-port 1-1.2:1.1 --package "), std::string::npos)
        << pulled;
    EXPECT_EQ(station->EventsOf("1-1.3", "result")[0]["result"], "done");
    ExpectFlashed("1-1.3");
}

TEST_F(StationRuns, TheCardsOwnRestartsDuringItsRunNeverStartAnotherRun) {
    PlugCard("1-1.2", {}, false);
    auto station = StartStation();
    ASSERT_TRUE(station->WaitFor(ProgressAtLeast("1-1.2", 10), kTimeout)) << station->Text();
    // The restarts a run goes through, as the bus tells them.
    bus_->Reenumerate("1-1.2", packet::kCardBootDownloaderIdentity.product);
    bus_->Reenumerate("1-1.2", packet::kCardProgrammerIdentity.product);
    bus_->Reenumerate("1-1.2", packet::kCardFirmwareIdentity.product);
    ASSERT_TRUE(station->WaitFor(Event("result", "1-1.2"), kTimeout)) << station->Text();
    EXPECT_EQ(EndStation(*station), 0) << station->Text();
    EXPECT_EQ(station->EventsOf("1-1.2", "card_appeared").size(), 1u) << station->Text();
    EXPECT_EQ(station->EventsOf("1-1.2", "card_removed").size(), 0u) << station->Text();
    ASSERT_EQ(station->EventsOf("1-1.2", "result").size(), 1u) << station->Text();
    ExpectFlashed("1-1.2");
}

TEST_F(StationRuns, WithMaxParallelOneTheCardsWaitAndRunOneAfterAnother) {
    const std::vector<std::string> ports = {"1-1.2", "1-1.3", "1-1.4"};
    for (const auto& port : ports) PlugCard(port, {}, false);
    auto station = StartStation({"--max-parallel", "1"});
    for (const auto& port : ports) ASSERT_TRUE(station->WaitFor(Event("result", port), kTimeout)) << station->Text();
    EXPECT_EQ(EndStation(*station), 0) << station->Text();
    std::vector<std::pair<size_t, size_t>> spans;
    for (const auto& port : ports) spans.emplace_back(IndexOf(*station, "step", port), IndexOf(*station, "result", port));
    std::sort(spans.begin(), spans.end());
    for (size_t i = 1; i < spans.size(); ++i)
        EXPECT_GT(spans[i].first, spans[i - 1].second) << "two runs at once:\n" << station->Text();
    for (const auto& port : ports) ExpectFlashed(port);
}

TEST_F(StationRuns, ACardFoundInItsProgrammerWithoutAPendingRecordIsNamedForARescueAndSentNothing) {
    PlugCard("1-1.2", {}, false, packet::kCardProgrammerIdentity.product);
    auto station = StartStation();
    ASSERT_TRUE(station->WaitFor(Event("result", "1-1.2"), kTimeout)) << station->Text();
    EXPECT_EQ(EndStation(*station), 0) << station->Text();
    const auto result = station->EventsOf("1-1.2", "result")[0];
    EXPECT_EQ(result["result"], "needs rescue") << result;
    EXPECT_EQ(result["command"], "fwupgrade rescue --usb-port 1-1.2:1.1 --package " + Package()) << result;
    EXPECT_EQ(station->Events().back()["need_rescue"], 1);
    ExpectUntouched("1-1.2");
}

TEST_F(StationRuns, ACardAFailedRunLeftInItsProgrammerIsRescuedWithItsPendingRecordWhenPluggedInAgain) {
    // The programmer stops answering for a while from its 30th request on:
    // the run gives up, the rescue that follows finds it answering again.
    PlugCard("1-1.2", {"--fault", "silence:mode=programmer,occurrence=30,count=8"}, false);
    auto station = StartStation();
    ASSERT_TRUE(station->WaitFor(Event("result", "1-1.2"), kTimeout)) << station->Text();
    EXPECT_EQ(station->EventsOf("1-1.2", "result")[0]["result"], "failed") << station->Text();
    bus_->Reenumerate("1-1.2", packet::kCardProgrammerIdentity.product);
    ASSERT_TRUE(station->WaitFor(Event("card_removed", "1-1.2"), kTimeout)) << station->Text();
    ASSERT_TRUE(station->WaitFor(Event("result", "1-1.2"), kTimeout, 2)) << station->Text();
    EndStation(*station);
    const auto results = station->EventsOf("1-1.2", "result");
    ASSERT_EQ(results.size(), 2u) << station->Text();
    EXPECT_EQ(results[1]["result"], "done") << station->Text();
    ExpectFlashed("1-1.2", true);
}

TEST_F(StationRuns, AStationStartedAgainRescuesACardLeftInItsProgrammerThroughItsFirmwaresInterface) {
    PlugCard("1-1.2", {"--fault", "silence:mode=programmer,occurrence=30,count=8"}, false);
    auto first = StartStation();
    ASSERT_TRUE(first->WaitFor(Event("result", "1-1.2"), kTimeout)) << first->Text();
    ASSERT_EQ(first->EventsOf("1-1.2", "result")[0]["result"], "failed") << first->Text();
    EndStation(*first);
    first.reset();
    // The card waits in its programmer, which shows one interface; back in
    // its firmware the same number is its modem port.
    bus_->Reenumerate("1-1.2", packet::kCardProgrammerIdentity.product);
    auto again = StartStation();
    ASSERT_TRUE(again->WaitFor(Event("result", "1-1.2"), kTimeout)) << again->Text();
    EndStation(*again);
    const auto results = again->EventsOf("1-1.2", "result");
    ASSERT_EQ(results.size(), 1u) << again->Text();
    EXPECT_EQ(results[0]["result"], "done") << again->Text();
    ExpectFlashed("1-1.2", true);
}

TEST_F(StationRuns, AStopLineEndsThatCardBeforeItsSwitchAndTheOtherGoesOn) {
    PlugCard("1-1.2", {}, false);
    PlugCard("1-1.3", {}, false);
    auto station = StartStation();
    ASSERT_TRUE(station->WaitFor(Event("step", "1-1.2"), kTimeout)) << station->Text();
    station->Say("stop 1-1.2");
    station->Say("stop 9-9");
    ASSERT_TRUE(station->WaitFor(Event("result", "1-1.2"), kTimeout)) << station->Text();
    ASSERT_TRUE(station->WaitFor(Event("result", "1-1.3"), kTimeout)) << station->Text();
    EXPECT_EQ(EndStation(*station), 130) << station->Text();
    const auto stopped = station->EventsOf("1-1.2", "result")[0];
    EXPECT_EQ(stopped["result"], "stopped") << stopped;
    EXPECT_EQ(stopped["reason"], "stopped on request before the switch; the card is unchanged") << stopped;
    EXPECT_NE(station->Text().find("stop 9-9: no card of that port is waiting or running"), std::string::npos);
    EXPECT_EQ(station->EventsOf("1-1.3", "result")[0]["result"], "done");
    ExpectFlashed("1-1.3");
}

TEST_F(StationRuns, AfterTheFirstCtrlCNoNewCardIsTakenAndTheRunningOneFinishes) {
    PlugCard("1-1.2", {}, false);
    auto station = StartStation();
    ASSERT_TRUE(station->WaitFor(ProgressAtLeast("1-1.2", 10), kTimeout)) << station->Text();
    station->Signal(SIGINT);
    ASSERT_TRUE(station->WaitFor(Event("notice"), kTimeout)) << station->Text();
    PlugCard("1-1.3");
    EXPECT_EQ(station->Wait(kTimeout), 0) << station->Text();
    EXPECT_EQ(station->EventsOf("1-1.2", "result")[0]["result"], "done");
    const auto late = station->EventsOf("1-1.3", "result");
    ASSERT_EQ(late.size(), 1u) << station->Text();
    EXPECT_EQ(late[0]["result"], "stopped");
    ExpectFlashed("1-1.2");
    ExpectUntouched("1-1.3");
}

}  // namespace
}  // namespace fwupgrade::station_tests

// Runs that never finished, found in the history by the card they were on.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "host/fwupgrade/run/UnfinishedRuns.h"

namespace fwupgrade {
namespace {

using nlohmann::json;

json Started(const std::string& run, const std::string& device, const std::string& byId = "") {
    return json{{"run", run}, {"device", device}, {"device_by_id", byId}, {"result", kUnfinishedResult},
                {"command", "fwupgrade upgrade --device " + device}, {"time", "2026-12-09T06:00:00+0000"},
                {"pid", 4242}, {"log", "/state/logs/" + run + ".log"}};
}

json Ended(const std::string& run, const std::string& device, const std::string& result, const std::string& esn = "") {
    return json{{"run", run}, {"device", device}, {"result", result}, {"esn", esn}};
}

UnfinishedLookup NothingRuns() {
    UnfinishedLookup lookup;
    lookup.running = [](int64_t) { return false; };
    return lookup;
}

TEST(FoldRunEntries, AnEndingReplacesItsStartAndARunWithoutOneStaysUnfinished) {
    const std::vector<json> folded = FoldRunEntries({
        json{{"result", "ok"}, {"device", "old"}},   // written before runs had ids
        Started("a", "/dev/ttyUSB0"),
        Started("b", "/dev/ttyUSB1"),
        Ended("a", "/dev/ttyUSB0", "ok"),
        Ended("c", "/dev/ttyUSB2", "rejected"),       // ended before it touched a card
    });
    ASSERT_EQ(folded.size(), 4u);
    EXPECT_EQ(folded[0]["device"], "old");
    EXPECT_EQ(folded[1]["run"], "a");
    EXPECT_EQ(folded[1]["result"], "ok");
    EXPECT_EQ(folded[2]["result"], kUnfinishedResult);
    EXPECT_EQ(folded[3]["result"], "rejected");
}

TEST(FoldRunEntries, AStartWrittenTwiceNeverHidesTheEnding) {
    const std::vector<json> folded = FoldRunEntries({Started("a", "d"), Ended("a", "d", "failed"), Started("a", "d")});
    ASSERT_EQ(folded.size(), 1u);
    EXPECT_EQ(folded[0]["result"], "failed");
}

TEST(UnfinishedRunOn, FindsTheCardByDeviceByLinkOrByTheEsnItsRunRead) {
    const std::vector<json> history = FoldRunEntries({Started("a", "/dev/ttyUSB0", "/dev/serial/by-id/usb-card-1")});
    EXPECT_TRUE(UnfinishedRunOn(history, {"/dev/ttyUSB0", "", ""}, "own", NothingRuns()));
    EXPECT_TRUE(UnfinishedRunOn(history, {"/dev/ttyUSB3", "/dev/serial/by-id/usb-card-1", ""}, "own", NothingRuns()));
    EXPECT_FALSE(UnfinishedRunOn(history, {"/dev/ttyUSB3", "/dev/serial/by-id/usb-card-2", ""}, "own", NothingRuns()));

    UnfinishedLookup byEsn = NothingRuns();
    byEsn.esnOf = [](const json& entry) { return entry["run"] == "a" ? std::string("8012A5C3") : std::string(); };
    EXPECT_TRUE(UnfinishedRunOn(history, {"/dev/ttyUSB3", "", "8012A5C3"}, "own", byEsn));
    EXPECT_FALSE(UnfinishedRunOn(history, {"/dev/ttyUSB3", "", "8012A5C4"}, "own", byEsn));
    // Empty names never match each other.
    EXPECT_FALSE(UnfinishedRunOn(FoldRunEntries({Started("b", "")}), {"", "", ""}, "own", NothingRuns()));
}

TEST(UnfinishedRunOn, ARecordALaterRunWroteOverNamesNoCard) {
    json killed = Started("a", "/dev/ttyUSB0");
    killed["channel_nvm"] = "/pkg/channel.nvm";
    json later = Ended("b", "/dev/ttyUSB1", "ok");   // its card's ESN not in its entry
    later["channel_nvm"] = "/pkg/channel.nvm";
    UnfinishedLookup byEsn = NothingRuns();
    byEsn.esnOf = [](const json&) { return std::string("11223344"); };   // what the file says now
    EXPECT_FALSE(UnfinishedRunOn(FoldRunEntries({killed, later}), {"/dev/ttyUSB2", "", "11223344"}, "own", byEsn));
    // The own run's record was read before it wrote its own.
    EXPECT_TRUE(UnfinishedRunOn(FoldRunEntries({killed, later}), {"/dev/ttyUSB2", "", "11223344"}, "b", byEsn));
    later["channel_nvm"] = "/elsewhere/channel.nvm";
    later["esn"] = "55667788";
    EXPECT_TRUE(UnfinishedRunOn(FoldRunEntries({killed, later}), {"/dev/ttyUSB2", "", "11223344"}, "own", byEsn));
}

TEST(UnfinishedRunOn, SkipsTheOwnRunARunStillGoingAndOnesARunOnTheCardHasEndedSince) {
    const CardKeys card{"/dev/ttyUSB0", "", ""};
    EXPECT_FALSE(UnfinishedRunOn(FoldRunEntries({Started("own", "/dev/ttyUSB0")}), card, "own", NothingRuns()));

    UnfinishedLookup alive = NothingRuns();
    alive.running = [](int64_t pid) { return pid == 4242; };
    EXPECT_FALSE(UnfinishedRunOn(FoldRunEntries({Started("a", "/dev/ttyUSB0")}), card, "own", alive));

    const std::vector<json> toldSince =
        FoldRunEntries({Started("a", "/dev/ttyUSB0"), Started("b", "/dev/ttyUSB0"), Ended("b", "/dev/ttyUSB0", "failed")});
    EXPECT_FALSE(UnfinishedRunOn(toldSince, card, "own", NothingRuns()));

    // The newest of two is named; another card's ending does not count.
    const std::vector<json> two = FoldRunEntries(
        {Started("a", "/dev/ttyUSB0"), Started("b", "/dev/ttyUSB0"), Ended("c", "/dev/ttyUSB1", "ok")});
    const auto found = UnfinishedRunOn(two, card, "own", NothingRuns());
    ASSERT_TRUE(found);
    EXPECT_EQ((*found)["run"], "b");
    EXPECT_EQ(UnfinishedRunWords(*found),
              "fwupgrade upgrade --device /dev/ttyUSB0, started 2026-12-09T06:00:00+0000 (log: /state/logs/b.log)");
}

}  // namespace
}  // namespace fwupgrade

// A rescue or restore refused before anything is written says why and the
// ways on, never the command just refused; a rescue without the card's data
// says what it costs; a card that answers nothing is not looked at again.
#include <gtest/gtest.h>

#include <csignal>

#include <nlohmann/json.hpp>

#include "CliFixture.h"

namespace fwupgrade {
namespace {

constexpr uint32_t kOtherEsn = 0x11223344;

class RescueEdgesCli : public FwupgradeCli {
protected:
    // Another card's data, kept on this machine by `backup`; its folder.
    std::string OtherCardsKeptBackup() {
        sim::CardData other = sim::DefaultCardData();
        other.esn = kOtherEsn;
        other.wifi[5] ^= 0x5a;
        const std::string profile = temp_ / "other.json";
        std::ofstream(profile) << sim::CardDataToJson(other).dump();
        CardProcess card;
        const std::string link = StartCard(card, "other", {"--profile", profile});
        const ProcessOutcome backup = Fwupgrade({"backup", "--device", link});
        EXPECT_EQ(backup.exitStatus, 0) << backup.out << backup.err;
        StopCard(card);
        return KeptFolderOf("11223344");
    }

    std::string KeptFolderOf(const std::string& esn) const {
        for (const auto& row : nlohmann::json::parse(Fwupgrade({"backups", "--json"}).out))
            if (row["esn"] == esn && row["state"] != "read while a restore was pending") return row["folder"];
        return "";
    }

    // An upgrade killed once the card is in its boot downloader.
    void LeaveInBootDownloader(const std::string& link) const {
        auto upgrade = Start({"upgrade", "--device", link, "--package", Package()});
        ASSERT_TRUE(upgrade->WaitForLine(ProgressAtLeast(7), kTimeout)) << upgrade->Out();
        upgrade->Signal(SIGKILL);
        upgrade->Wait(kTimeout);
    }

    static sim::CardData StopCard(CardProcess& card) {
        sim::CardData data;
        bool newFirmware = false;
        size_t violations = 0;
        std::string error;
        EXPECT_TRUE(card.Stop(data, newFirmware, violations, error)) << error;
        return data;
    }

    nlohmann::json LastHistoryEntry() const {
        const nlohmann::json entries = nlohmann::json::parse(Fwupgrade({"history", "--json"}).out);
        return entries.empty() ? nlohmann::json::object() : entries.front();
    }
};

// The card's own data: a default card's, item 96 cleared when a Q7k upgrade ran.
void ExpectOwnData(const sim::CardData& now, bool q7kUpgradeRan) {
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

std::vector<std::string> WaysOn(const std::string& out) {
    std::vector<std::string> ways;
    bool inside = false;
    for (const std::string& line : Lines(out)) {
        if (line == "  Ways on:") inside = true;
        else if (inside && line.rfind("    fwupgrade ", 0) == 0) ways.push_back(line.substr(4));
        else inside = false;
    }
    return ways;
}

TEST_F(RescueEdgesCli, AnotherCardsBackupIsRefusedWithTheWaysOnAndTheCardsOwnBringsItBack) {
    const std::string otherFolder = OtherCardsKeptBackup();
    ASSERT_FALSE(otherFolder.empty());
    CardProcess card;
    const std::string link = StartCard(card, "card0");
    LeaveInBootDownloader(link);
    const std::string ownFolder = KeptFolderOf("8012A5C3");
    ASSERT_FALSE(ownFolder.empty());

    const ProcessOutcome refused =
        Fwupgrade({"rescue", "--device", link, "--package", Package(), "--from", otherFolder});
    EXPECT_EQ(refused.exitStatus, 4) << refused.out << refused.err;
    EXPECT_NE(refused.out.find("the backup belongs to another card"), std::string::npos) << refused.out;
    EXPECT_NE(refused.out.find("belongs to the card with ESN 11223344; this card has ESN 8012A5C3"), std::string::npos)
        << refused.out;
    const std::string rescue = "fwupgrade rescue --device " + link + " --package " + Package();
    const std::vector<std::string> ways = WaysOn(refused.out);
    ASSERT_EQ(ways.size(), 2u) << refused.out;
    EXPECT_EQ(ways[0], rescue + " --from " + ownFolder);
    EXPECT_EQ(ways[1], rescue + " --without-data");
    EXPECT_EQ(refused.out.find("--from " + otherFolder + "\n"), std::string::npos) << "never the refused command";
    EXPECT_EQ(refused.out.find("To rescue the card run:"), std::string::npos) << refused.out;
    EXPECT_EQ(LastHistoryEntry()["esn"], "8012A5C3") << "filed under the card's own ESN";

    const ProcessOutcome rescued = Fwupgrade({"rescue", "--device", link, "--package", Package(), "--from", ownFolder});
    EXPECT_EQ(rescued.exitStatus, 0) << rescued.out << rescued.err;
    ExpectOwnData(StopCard(card), true);
}

TEST_F(RescueEdgesCli, WithoutAnyBackupTheWaysOnComeFromTheHistoryAndWithoutDataSaysItsCost) {
    CardProcess card;
    const std::string link = StartCard(card, "card0");
    ASSERT_EQ(Fwupgrade({"backup", "--device", link}).exitStatus, 0);
    const std::string kept = KeptFolderOf("8012A5C3");
    LeaveInBootDownloader(link);
    fs::remove(Package() + "/backup-record.txt");

    const ProcessOutcome refused = Fwupgrade({"rescue", "--device", link, "--package", Package()});
    EXPECT_EQ(refused.exitStatus, 4) << refused.out << refused.err;
    EXPECT_NE(refused.out.find("there is no usable backup of the card's data"), std::string::npos) << refused.out;
    const std::string rescue = "fwupgrade rescue --device " + link + " --package " + Package();
    // The upgrade kept what it read too (item 96 cleared): one way on per kept backup, newest first.
    const std::vector<std::string> ways = WaysOn(refused.out);
    ASSERT_EQ(ways.size(), 3u) << refused.out;
    EXPECT_EQ(ways[1], rescue + " --from " + kept) << "found by the last run on this device";
    EXPECT_EQ(ways[2], rescue + " --without-data");
    EXPECT_EQ(refused.out.find("To rescue the card run: " + rescue + "\n"), std::string::npos)
        << "never the refused command";

    const ProcessOutcome bare = Fwupgrade({"rescue", "--device", link, "--package", Package(), "--without-data"});
    EXPECT_EQ(bare.exitStatus, 0) << bare.out << bare.err;
    EXPECT_NE(bare.out.find("Rescue without the card's data: a card outside its firmware is wiped"), std::string::npos)
        << bare.out;
    EXPECT_NE(bare.out.find("the card's data was NOT put back"), std::string::npos) << bare.out;

    const ProcessOutcome restore = Fwupgrade({"restore", "--device", link, "--from", kept});
    EXPECT_EQ(restore.exitStatus, 0) << restore.out << restore.err;
    ExpectOwnData(StopCard(card), false);
}

TEST_F(RescueEdgesCli, ARestoreOfAnotherCardsBackupIsRefusedAndFiledUnderTheCardsEsn) {
    const std::string otherFolder = OtherCardsKeptBackup();
    CardProcess card;
    const std::string link = StartCard(card, "card0");
    ASSERT_EQ(Fwupgrade({"backup", "--device", link}).exitStatus, 0);
    const std::string own = KeptFolderOf("8012A5C3");
    const ProcessOutcome refused = Fwupgrade({"restore", "--device", link, "--from", otherFolder});
    EXPECT_EQ(refused.exitStatus, 4) << refused.out << refused.err;
    EXPECT_NE(refused.out.find("Nothing was written back (the backup belongs to another card)"), std::string::npos)
        << refused.out;
    EXPECT_NE(refused.out.find("ESN 11223344; this card has ESN 8012A5C3"), std::string::npos) << refused.out;
    EXPECT_EQ(LastHistoryEntry()["esn"], "8012A5C3");
    const std::vector<std::string> ways = WaysOn(refused.out);
    ASSERT_EQ(ways.size(), 1u) << refused.out;
    EXPECT_EQ(ways[0], "fwupgrade restore --device " + link + " --from " + own);
    ExpectOwnData(StopCard(card), false);
}

TEST_F(RescueEdgesCli, ACardThatAnsweredNothingIsNotLookedAtAgain) {
    CardProcess card;
    const std::string link = StartCard(card, "card0", {"--fault", "silence:count=0"});
    const std::string log = temp_ / "silent.log";
    const ProcessOutcome run = Fwupgrade({"upgrade", "--device", link, "--package", Package(), "--log", log});
    EXPECT_EQ(run.exitStatus, 4) << run.out << run.err;
    std::ifstream in(log);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_NE(text.find("InitPort"), std::string::npos) << "the run's own tries are traced";
    EXPECT_EQ(text.find("Probe the state of the card"), std::string::npos) << text;
    ExpectOwnData(StopCard(card), false);
}

}  // namespace
}  // namespace fwupgrade

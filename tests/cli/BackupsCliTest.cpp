// `backups`, `backups export` and `backups import`, and a backup carried in
// an archive to another bench and restored there: the built program against
// the virtual card.
#include <fstream>
#include <iterator>

#include <nlohmann/json.hpp>

#include "CliFixture.h"

namespace fwupgrade {
namespace {

// The card loses everything it owns, as cefs wipes it.
void Wipe(sim::CardData& data) {
    data.wifi = {};
    data.efsFiles.clear();
    for (auto& [item, nv] : data.nv)
        if (!nv.readOnly) nv.data.fill(0);
}

TEST_F(FwupgradeCli, ABackupCarriedInAnArchiveRestoresOnAnotherBench) {
    CardProcess card;
    const std::string link = StartCard(card, "card0");
    ASSERT_EQ(Fwupgrade({"backup", "--device", link}).exitStatus, 0);
    const ProcessOutcome listed = Fwupgrade({"backups", "--json"});
    ASSERT_EQ(listed.exitStatus, 0) << listed.err;
    const nlohmann::json rows = nlohmann::json::parse(listed.out);
    ASSERT_EQ(rows.size(), 1u) << listed.out;
    EXPECT_EQ(rows[0]["esn"], "8012A5C3");
    EXPECT_EQ(rows[0]["state"], "own");
    const std::string which = "8012A5C3/" + rows[0]["time"].get<std::string>();

    const std::string archive = temp_ / "stick/card.fwbackup";
    const ProcessOutcome exported = Fwupgrade({"backups", "export", which, archive});
    ASSERT_EQ(exported.exitStatus, 0) << exported.out << exported.err;
    EXPECT_EQ(Fwupgrade({"backups", "export", which, archive}).exitStatus, 4) << "never written over";

    sim::CardData data;
    bool newFirmware = false;
    size_t violations = 0;
    std::string error;
    ASSERT_TRUE(card.Stop(data, newFirmware, violations, error)) << error;
    Wipe(data);
    const std::string wiped = temp_ / "wiped.json";
    std::ofstream(wiped) << sim::CardDataToJson(data).dump();
    const std::string again = StartCard(card, "card1", {"--profile", wiped});

    // Another bench: its own data folder, where the archive is all there is.
    const testing::Environment bench = {{"XDG_DATA_HOME", temp_ / "bench2"}};
    const ProcessOutcome restore = Fwupgrade({"restore", "--device", again, "--from", archive}, bench);
    EXPECT_EQ(restore.exitStatus, 0) << restore.out << restore.err;
    EXPECT_NE(restore.out.find("The archive " + archive + " is now kept in " + (temp_ / "bench2") +
                               "/fwupgrade/backups/8012A5C3/"),
              std::string::npos)
        << restore.out;
    EXPECT_NE(restore.out.find("The backup went back to the card."), std::string::npos) << restore.out;
    ASSERT_TRUE(card.Stop(data, newFirmware, violations, error)) << error;
    EXPECT_EQ(data.wifi, sim::DefaultCardData().wifi);
    EXPECT_EQ(data.efsFiles, sim::DefaultCardData().efsFiles);

    const ProcessOutcome there = Fwupgrade({"backups"}, bench);
    EXPECT_NE(there.out.find("restored"), std::string::npos) << there.out;
    EXPECT_NE(there.out.find("1 kept backup in "), std::string::npos) << there.out;
    const ProcessOutcome twice = Fwupgrade({"backups", "import", archive}, bench);
    EXPECT_EQ(twice.exitStatus, 0) << twice.err;
    EXPECT_NE(twice.out.find("nothing was added"), std::string::npos) << twice.out;
}

// The upgrade fails once the card was wiped (the new firmware refuses item
// 77); the card is plugged in again without that fault. A backup of it says
// a restore is pending and how to finish it, and that command does.
TEST_F(FwupgradeCli, ABackupOfACardWhoseRestoreIsPendingSaysSoAndTheRestoreFinishesIt) {
    CardProcess card;
    const std::string link = StartCard(card, "card0", {"--fault", "nv_refuse:item=77,command=0x27,count=0"});
    ASSERT_EQ(Fwupgrade({"upgrade", "--device", link, "--package", Package()}).exitStatus, 4);
    sim::CardData data;
    bool newFirmware = false;
    size_t violations = 0;
    std::string error;
    ASSERT_TRUE(card.Stop(data, newFirmware, violations, error)) << error;
    ASSERT_NE(data.wifi, sim::DefaultCardData().wifi) << "the card was wiped";
    const std::string left = temp_ / "left.json";
    std::ofstream(left) << sim::CardDataToJson(data).dump();
    const std::string again = StartCard(card, "card1", {"--profile", left});

    const ProcessOutcome backup = Fwupgrade({"backup", "--device", again});
    EXPECT_EQ(backup.exitStatus, 4) << backup.out << backup.err;
    EXPECT_NE(backup.out.find("a restore is pending"), std::string::npos) << backup.out;
    EXPECT_NE(backup.out.find("  finish it:   fwupgrade restore --device " + again + "\n"), std::string::npos)
        << backup.out;
    const nlohmann::json rows = nlohmann::json::parse(Fwupgrade({"backups", "--json"}).out);
    int apart = 0;
    for (const auto& row : rows) apart += row["state"] == "read while a restore was pending";
    EXPECT_EQ(apart, 1) << rows.dump();

    const ProcessOutcome restore = Fwupgrade({"restore", "--device", again});
    EXPECT_EQ(restore.exitStatus, 0) << restore.out << restore.err;
    ASSERT_TRUE(card.Stop(data, newFirmware, violations, error)) << error;
    const sim::CardData own = sim::DefaultCardData();
    EXPECT_EQ(data.wifi, own.wifi);
    EXPECT_EQ(data.efsFiles, own.efsFiles);
    EXPECT_EQ(data.nv.at(77).data, own.nv.at(77).data);
}

TEST_F(FwupgradeCli, ADamagedArchiveIsRefusedBeforeAnyCardIsTouched) {
    std::string text = "fwupgrade-backup-archive 1\nfile ../../escape 3\nabcend 0\n";
    std::ofstream(temp_ / "bad.fwbackup") << text;
    const ProcessOutcome imported = Fwupgrade({"backups", "import", temp_ / "bad.fwbackup"});
    EXPECT_EQ(imported.exitStatus, 4);
    EXPECT_NE(imported.err.find("a member name with a folder separator '../../escape'"), std::string::npos)
        << imported.err;
    const ProcessOutcome restore = Fwupgrade({"restore", "--port", "9", "--from", temp_ / "bad.fwbackup"});
    EXPECT_EQ(restore.exitStatus, 4);
    EXPECT_NE(restore.err.find("restore: "), std::string::npos) << restore.err;
    EXPECT_FALSE(fs::exists(temp_ / "data/fwupgrade/backups")) << "nothing kept";
    EXPECT_NE(Fwupgrade({"backups"}).out.find("No kept backups in "), std::string::npos);
    EXPECT_EQ(Fwupgrade({"backups", "export", "8012A5C3/nothing", temp_ / "x"}).exitStatus, 2);
}

}  // namespace
}  // namespace fwupgrade

// The state `fwupgrade backups` gives each kept backup: a read taken while a
// restore was pending says so; a backup the history says went back to a card
// in full is restored; any other is the card's own.
#include <gtest/gtest.h>

#include <stdlib.h>

#include <nlohmann/json.hpp>

#include "host/fwupgrade/cli/BackupsCommand.h"
#include "tests/support/TempFolder.h"
#include "upgrade/backup/BackupStore.h"
#include "upgrade/backup/NvBackupTable.h"
#include "upgrade/backup/Sha256.h"

namespace fwupgrade {
namespace {

class KeptRows : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(::setenv("XDG_DATA_HOME", (work_ / "data").c_str(), 1), 0); }
    void TearDown() override { ::unsetenv("XDG_DATA_HOME"); }

    std::string Keep(uint8_t seed, const std::string& readWhilePending = "") {
        work_.WritePattern("channel.nvm", upgrade::nvtable::kTableSize, seed);
        upgrade::BackupRecord r;
        r.esn = 0x8012A5C3;
        r.time = "2026120" + std::to_string(seed) + "T034000Z";
        r.nvFile = work_.WideFile("channel.nvm");
        r.readWhilePending = readWhilePending;
        EXPECT_TRUE(upgrade::Sha256OfFile(r.nvFile, r.nvSha256));
        std::u16string folder;
        std::string error;
        EXPECT_TRUE(upgrade::KeepBackup(r, folder, error)) << error;
        return platform::WideToUtf8(folder);
    }
    static nlohmann::json Entry(const std::string& command, const std::string& result, const std::string& kept) {
        return {{"command", "fwupgrade " + command + " --device /dev/x"}, {"result", result}, {"kept_backup", kept}};
    }

    test_support::TempFolder work_;
};

TEST_F(KeptRows, TheHistoryAndTheRecordTellTheStateOfEachBackup) {
    const std::string restored = Keep(1);
    const std::string failed = Keep(2);
    const std::string backedUp = Keep(3);
    const std::string apart = Keep(4, "20261201T034000Z");
    const std::vector<nlohmann::json> history = {
        Entry("restore", "ok", restored + "/"),   // however the folder is written
        Entry("restore", "failed", failed),       // not everything went back
        Entry("backup", "ok", backedUp),          // a backup writes nothing back
        Entry("rescue", "ok", apart),             // a read apart stays so
    };
    const std::vector<KeptBackupRow> rows = KeptBackupRows(history);
    ASSERT_EQ(rows.size(), 4u);
    EXPECT_EQ(rows[0].folder, restored);
    EXPECT_EQ(rows[0].state, KeptState::Restored);
    EXPECT_EQ(rows[1].state, KeptState::Own);
    EXPECT_EQ(rows[2].state, KeptState::Own);
    EXPECT_EQ(rows[3].state, KeptState::ReadWhilePending);
    EXPECT_EQ(rows[3].esn, "8012A5C3");
    EXPECT_EQ(rows[3].time, "20261204T034000Z");
    EXPECT_STREQ(KeptStateWords(rows[3].state), "read while a restore was pending");
}

}  // namespace
}  // namespace fwupgrade

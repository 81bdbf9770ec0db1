// A whole upgrade in-process against the virtual card while the data folder's
// disk is full: the engine stops before the switch, and fwupgrade's account
// of it names the folder and the full disk, through the same file system.
#include <gtest/gtest.h>

#include <cerrno>

#include "FailingFileSystem.h"
#include "host/fwupgrade/card/BackupCopyFailure.h"
#include "host/fwupgrade/plugin/PluginOperations.h"
#include "module/CardOperationsApi.h"
#include "tests/backup/CardRunFixture.h"

namespace {

using namespace backup_test;

class FullDisk : public CardRunFixture {
protected:
    // The card's upgrade through the card operations, as fwupgrade runs it.
    fwupgrade::CardOutcome Upgrade(int32_t& code) {
        const FwupCardOperationTable* table = FwupCardOperations(FWUP_CARD_OPERATIONS_VERSION);
        EXPECT_NE(table, nullptr);
        fwupgrade::PluginOperations operations(*table, fwupgrade::CardTarget{kPort, ""});
        code = operations.Upgrade(Package());
        return operations.Outcome();
    }

    void ExpectStillInItsFirmwareWithItsData() {
        EXPECT_EQ(card_->Mode(), sim::CardMode::Diagnostic);
        EXPECT_EQ(card_->ModeChanges(), 0u);
        ExpectOriginalData();
    }
};

TEST_F(FullDisk, AFullDataFolderStopsTheUpgradeBeforeTheSwitchAndIsNamed) {
    Prepare(CardKind::Q7k);
    Plug(original_);
    const std::string data = platform::WideToUtf8(platform::UserDataFolder());
    const fwupgrade::FailingFileSystem disk(data, 0, 4096);

    int32_t code = 0;
    const fwupgrade::CardOutcome outcome = Upgrade(code);
    EXPECT_EQ(code, -13314);
    EXPECT_EQ(outcome.failedStep, FWUP_STEP_BACKUP);
    EXPECT_EQ(outcome.reason, FWUP_REASON_FILE_SYSTEM);

    fwupgrade::RunResult result;
    result.channelNvm = Package() + "/channel.nvm";
    ASSERT_TRUE(fwupgrade::DescribeBackupCopyFailure(outcome, false, result));
    EXPECT_EQ(result.writeFolder, data + "/backups/8012A5C3");
    EXPECT_EQ(result.writeFailure, "full-disk");
    EXPECT_EQ(result.writeErrno, ENOSPC);
    EXPECT_TRUE(result.cardUnchanged);
    ExpectStillInItsFirmwareWithItsData();
}

TEST_F(FullDisk, AFullPackageDiskIsNamedAsThePackageFolder) {
    Prepare(CardKind::Q7k);
    Plug(original_);
    const fwupgrade::FailingFileSystem disk(Package(), ENOSPC);

    int32_t code = 0;
    const fwupgrade::CardOutcome outcome = Upgrade(code);
    EXPECT_EQ(code, -13314);
    EXPECT_EQ(outcome.failedStep, FWUP_STEP_BACKUP);
    fwupgrade::RunResult result;
    result.channelNvm = Package() + "/channel.nvm";
    ASSERT_TRUE(fwupgrade::DescribeBackupCopyFailure(outcome, false, result));
    EXPECT_EQ(result.writeFolder, Package());
    EXPECT_EQ(result.writeFailure, "full-disk");
    ExpectStillInItsFirmwareWithItsData();
}

}  // namespace

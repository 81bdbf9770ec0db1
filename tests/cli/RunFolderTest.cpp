// The run's own folder and the check that says why a copy
// of the card's backup cannot be written (a full disk through the file
// system seam, in-process).
#include <gtest/gtest.h>

#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <memory>

#include "host/fwupgrade/card/BackupCopyFailure.h"
#include "host/fwupgrade/package/PackageCheck.h"
#include "host/fwupgrade/run/RunFolder.h"
#include "host/fwupgrade/card/WriteProbe.h"
#include "FailingFileSystem.h"
#include "platform/Platform.h"
#include "tests/support/TempFolder.h"
#include "upgrade/backup/BackupStore.h"

namespace fwupgrade {
namespace {

using test_support::TempFolder;
namespace fs = std::filesystem;

TEST(WriteProbe, TellsAFullDiskAReadOnlyFolderAndAMissingPermissionApart) {
    EXPECT_EQ(WriteFailureOf(ENOSPC), WriteFailure::FullDisk);
    EXPECT_EQ(WriteFailureOf(EDQUOT), WriteFailure::FullDisk);
    EXPECT_EQ(WriteFailureOf(EROFS), WriteFailure::ReadOnly);
    EXPECT_EQ(WriteFailureOf(EACCES), WriteFailure::Permission);
    EXPECT_EQ(WriteFailureOf(EPERM), WriteFailure::Permission);
    EXPECT_EQ(WriteFailureOf(EIO), WriteFailure::Other);
    EXPECT_EQ(WriteFailureName(WriteFailure::ReadOnly), "read-only");
    EXPECT_EQ(WriteProblemWords({"/x", WriteFailure::FullDisk, ENOSPC}), "the disk is full");
    EXPECT_EQ(WriteProblemDetail({"/x", WriteFailure::FullDisk, ENOSPC}),
              "the disk is full (No space left on device, errno 28)");
}

TEST(WriteProbe, AFolderThatTakesTheCopyLeavesNothingBehind) {
    TempFolder temp;
    EXPECT_FALSE(ProbeFolderWrite(temp.path(), kBackupCopyBytes));
    EXPECT_TRUE(fs::is_empty(temp.path()));
    // A folder still to be made is tried where it would be made.
    EXPECT_FALSE(ProbeFolderWrite(temp / "backups/8012A5C3", kBackupCopyBytes));
    EXPECT_TRUE(fs::is_empty(temp.path()));
}

TEST(WriteProbe, ADiskThatFillsPartWayIsAFullDiskAndThePartialFileGoes) {
    TempFolder temp;
    const FailingFileSystem disk(temp.path(), 0, 100 * 1024);
    const auto problem = ProbeFolderWrite(temp.path(), kBackupCopyBytes);
    ASSERT_TRUE(problem);
    EXPECT_EQ(problem->failure, WriteFailure::FullDisk);
    EXPECT_EQ(problem->error, ENOSPC);
    EXPECT_EQ(problem->folder, temp.path());
    EXPECT_TRUE(fs::is_empty(temp.path()));
    // Room for the whole copy is no problem.
    const FailingFileSystem roomy(temp.path(), 0, kBackupCopyBytes);
    EXPECT_FALSE(ProbeFolderWrite(temp.path(), kBackupCopyBytes));
}

TEST(WriteProbe, AFileThatCannotBeMadeGivesTheSystemsReason) {
    TempFolder temp;
    const FailingFileSystem disk(temp.path(), EROFS);
    const auto problem = ProbeFolderWrite(temp.path(), kBackupCopyBytes);
    ASSERT_TRUE(problem);
    EXPECT_EQ(problem->failure, WriteFailure::ReadOnly);
}

CardOutcome FailedInBackup(int32_t reason) {
    CardOutcome outcome;
    outcome.reported = true;
    outcome.result = -13314;
    outcome.failedStep = FWUP_STEP_BACKUP;
    outcome.reason = reason;
    outcome.esnKnown = true;
    outcome.esn = 0x8012A5C3;
    return outcome;
}

TEST(BackupCopyFailure, AFullDataFolderIsNamedWithItsReasonAndTheCardIsUnchanged) {
    TempFolder temp;
    platform::SetUserDataFolder(platform::Utf8ToWide(temp / "data"));
    fs::create_directories(temp / "package");
    fs::create_directories(temp / "data");
    const std::string kept = platform::WideToUtf8(upgrade::KeptBackupsRoot());
    // The data folder's disk fills after 4 KiB; the package's has room.
    const FailingFileSystem disk(temp / "data", 0, 4096);

    RunResult result;
    result.channelNvm = temp / "package/channel.nvm";
    result.rescueCommand = "fwupgrade rescue --port 1 --package x";
    ASSERT_TRUE(DescribeBackupCopyFailure(FailedInBackup(FWUP_REASON_FILE_SYSTEM), false, result));
    EXPECT_TRUE(result.cardUnchanged);
    EXPECT_EQ(result.writeFolder, kept + "/8012A5C3");
    EXPECT_EQ(result.writeFailure, "full-disk");
    EXPECT_EQ(result.writeErrno, ENOSPC);
    EXPECT_NE(result.headline.find(kept + "/8012A5C3 cannot take a copy of its backup (the disk is full)."),
              std::string::npos)
        << result.headline;
    EXPECT_NE(result.headline.find("The card is unchanged."), std::string::npos);
    EXPECT_TRUE(result.rescueCommand.empty());
    EXPECT_EQ(result.reasonLine, "cannot write a copy of the backup into " + kept +
                                     "/8012A5C3: the disk is full (No space left on device, errno 28)");
    const nlohmann::json json = ToJson(result);
    EXPECT_EQ(json["write_problem"]["reason"], "full-disk");
    EXPECT_EQ(json["card_unchanged"], true);
    EXPECT_EQ(RunResultFromJson(json).writeFolder, result.writeFolder);
    platform::SetUserDataFolder(u"");
}

TEST(BackupCopyFailure, OnlyAFileFailureInTheBackupStepBeforeTheSwitchCounts) {
    TempFolder temp;
    platform::SetUserDataFolder(platform::Utf8ToWide(temp / "data"));
    RunResult result;
    result.channelNvm = temp / "channel.nvm";
    EXPECT_FALSE(DescribeBackupCopyFailure(FailedInBackup(FWUP_REASON_FILE_SYSTEM), true, result));
    // A card that stopped answering while every folder takes a copy.
    EXPECT_FALSE(DescribeBackupCopyFailure(FailedInBackup(FWUP_REASON_NO_ANSWER), false, result));
    CardOutcome images = FailedInBackup(FWUP_REASON_FILE_SYSTEM);
    images.failedStep = FWUP_STEP_IMAGES;
    EXPECT_FALSE(DescribeBackupCopyFailure(images, false, result));
    EXPECT_FALSE(result.cardUnchanged);
    EXPECT_TRUE(fs::is_empty(temp.path()));
    platform::SetUserDataFolder(u"");
}

TEST(BackupCopyFailure, ACardsRefusalWhileAFolderIsFullIsTheFullFolder) {
    TempFolder temp;
    platform::SetUserDataFolder(platform::Utf8ToWide(temp / "data"));
    fs::create_directories(temp / "package");
    const FailingFileSystem disk(temp / "package", ENOSPC);
    RunResult result;
    result.channelNvm = temp / "package/channel.nvm";
    ASSERT_TRUE(DescribeBackupCopyFailure(FailedInBackup(FWUP_REASON_REFUSED), false, result));
    EXPECT_EQ(result.writeFolder, temp / "package");
    EXPECT_EQ(result.writeFailure, "full-disk");
    EXPECT_TRUE(result.cardUnchanged);
    platform::SetUserDataFolder(u"");
}

TEST(RunFolder, LinksThePackageFilesAndNamesThePackageItStandsFor) {
    TempFolder temp;
    fs::create_directories(temp / "package");
    fs::create_directories(temp / "state");
    for (const auto& file : PackageFiles())
        if (file.required) temp.Fill("package/" + std::string(file.name), 4);
    std::string folder, error;
    ASSERT_TRUE(MakeRunFolder(temp / "state/runs", RunFolderName(0, "/dev/pts/7"), temp / "package", folder, error))
        << error;
    EXPECT_EQ(folder, temp / "state/runs/19700101T000000Z-" + std::to_string(::getpid()) + "-7");
    for (const auto& file : PackageFiles()) {
        if (!file.required) continue;
        EXPECT_TRUE(fs::is_symlink(folder + "/" + file.name)) << file.name;
        EXPECT_EQ(fs::read_symlink(folder + "/" + file.name), temp / "package/" + file.name);
    }
    EXPECT_EQ(RunFolderPackage(folder), temp / "package");
    EXPECT_EQ(RunFolderPackage(temp / "package"), "");

    std::ofstream(folder + "/" + kRunFolderMark, std::ios::trunc) << "relative/path\n";
    EXPECT_EQ(RunFolderPackage(folder), "");
    std::ofstream(folder + "/" + kRunFolderMark, std::ios::trunc) << "/a\n/b\n";
    EXPECT_EQ(RunFolderPackage(folder), "");
}

}  // namespace
}  // namespace fwupgrade

// The run's own folder and the check that says why a copy
// of the card's backup cannot be written (a full disk through the file
// system seam, in-process).
#include <gtest/gtest.h>

#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <memory>

#include "host/fwupgrade/BackupCopyFailure.h"
#include "host/fwupgrade/PackageCheck.h"
#include "host/fwupgrade/RunFolder.h"
#include "host/fwupgrade/WriteProbe.h"
#include "platform/Platform.h"
#include "tests/support/TempFolder.h"
#include "upgrade/BackupStore.h"

namespace fwupgrade {
namespace {

using test_support::TempFolder;
namespace fs = std::filesystem;

// A file that takes `room` bytes, then fails as a full disk does.
class FillingFile : public platform::FileHandle {
public:
    FillingFile(std::unique_ptr<platform::FileHandle> real, uint64_t room) : real_(std::move(real)), room_(room) {}
    uint64_t Length() override { return real_->Length(); }
    bool Seek(uint64_t offset) override { return real_->Seek(offset); }
    uint32_t Read(uint8_t* buffer, uint32_t count) override { return real_->Read(buffer, count); }
    uint32_t Write(const uint8_t* data, uint32_t count) override {
        const uint32_t fits = static_cast<uint32_t>(std::min<uint64_t>(count, room_));
        const uint32_t put = real_->Write(data, fits);
        room_ -= put;
        if (put < count) errno = ENOSPC;
        return put;
    }
    bool Flush() override { return real_->Flush(); }

private:
    std::unique_ptr<platform::FileHandle> real_;
    uint64_t room_;
};

// The real file system, except that below `folder` a new file fails with
// `error`, or (with error 0) the disk fills after `room` bytes.
class FailingFileSystem : public platform::FileSystem {
public:
    FailingFileSystem(std::string folder, int error, uint64_t room = 0)
        : real_(platform::MakeDefaultFileSystem()), folder_(platform::Utf8ToWide(folder + "/")), error_(error),
          room_(room) {
        platform::SetFileSystem(this);
    }
    ~FailingFileSystem() override { platform::SetFileSystem(nullptr); }
    std::unique_ptr<platform::FileHandle> OpenRead(const std::u16string& path) override { return real_->OpenRead(path); }
    std::unique_ptr<platform::FileHandle> CreateWrite(const std::u16string& path) override {
        if (path.rfind(folder_, 0) != 0) return real_->CreateWrite(path);
        if (error_ != 0) {
            errno = error_;
            return nullptr;
        }
        auto file = real_->CreateWrite(path);
        return file ? std::make_unique<FillingFile>(std::move(file), room_) : nullptr;
    }
    bool CreateDirectory(const std::u16string& path) override { return real_->CreateDirectory(path); }
    bool PathExists(const std::u16string& path) override { return real_->PathExists(path); }
    bool RemoveFile(const std::u16string& path) override { return real_->RemoveFile(path); }
    bool ReplaceFile(const std::u16string& source, const std::u16string& target) override {
        return real_->ReplaceFile(source, target);
    }
    std::vector<std::u16string> ListFolder(const std::u16string& folder) override { return real_->ListFolder(folder); }
    bool SyncFolder(const std::u16string& folder) override { return real_->SyncFolder(folder); }

private:
    std::unique_ptr<platform::FileSystem> real_;
    std::u16string folder_;
    int error_;
    uint64_t room_;
};

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
    RunResult result;
    result.channelNvm = "/nowhere/channel.nvm";
    EXPECT_FALSE(DescribeBackupCopyFailure(FailedInBackup(FWUP_REASON_FILE_SYSTEM), true, result));
    EXPECT_FALSE(DescribeBackupCopyFailure(FailedInBackup(FWUP_REASON_NO_ANSWER), false, result));
    CardOutcome images = FailedInBackup(FWUP_REASON_FILE_SYSTEM);
    images.failedStep = FWUP_STEP_IMAGES;
    EXPECT_FALSE(DescribeBackupCopyFailure(images, false, result));
    EXPECT_FALSE(result.cardUnchanged);
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

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include "tests/backup/BackupFixture.h"
#include "upgrade/backup/BackupSafeFile.h"

namespace backup_test {
namespace {

using LockFiles = BackupTest;

std::vector<std::string> Paths(const std::vector<upgrade::LockFileEntry>& list) {
    std::vector<std::string> paths;
    for (const auto& entry : list) {
        paths.push_back(platform::WideToUtf8(entry.path));
    }
    return paths;
}

TEST_F(LockFiles, NestedFilesAreSavedInWalkOrderAndWrittenBackInChunks) {
    FillCard();
    Held().efsFiles["vek/z"] = Pattern(1024, 9);   // exactly one chunk
    OpenPort();

    std::vector<upgrade::LockFileEntry> list;
    ASSERT_TRUE(module_.Locks().EnumAllAbsoluteFilePathInEfsDir(packet_, u"vek", list));
    EXPECT_EQ(Paths(list), (std::vector<std::string>{"vek/a", "vek/z", "vek/sub/b", "vek/sub/deep/empty"}));
    EXPECT_TRUE(card_->LockAccessEnabled());

    ASSERT_TRUE(module_.Locks().BackupLockFile(list, packet_));
    EXPECT_EQ(list[0].size, 100);
    EXPECT_EQ(list[1].size, 1024);
    EXPECT_EQ(list[2].size, 3000);
    EXPECT_EQ(list[3].size, 0);
    EXPECT_FALSE(card_->LockAccessEnabled());
    std::vector<uint8_t> expected;
    for (const std::string& path : Paths(list)) {
        expected.insert(expected.end(), Held().efsFiles[path].begin(), Held().efsFiles[path].end());
    }
    EXPECT_EQ(Slurp("VEKLock_1"), expected);
    EXPECT_EQ(Count("efsread vek/sub/deep/empty 0 1024"), 1u);
    EXPECT_EQ(Count("efsread vek/z"), 1u);

    const auto before = Held().efsFiles;
    for (auto& [path, content] : Held().efsFiles) {
        content = Pattern(7, 0xEE);   // the new firmware brings other files
    }
    card_->ClearRequests();
    ASSERT_TRUE(module_.Locks().RestoreLockFile(packet_, list));
    EXPECT_EQ(Held().efsFiles, before);
    EXPECT_EQ(Count("efswrite vek/sub/b 0 1024"), 1u);
    EXPECT_EQ(Count("efswrite vek/sub/b 1024 1024"), 1u);
    EXPECT_EQ(Count("efswrite vek/sub/b 2048 952"), 1u);
    EXPECT_EQ(Count("efswrite vek/a 0 100"), 1u);
    EXPECT_EQ(Count("efswrite vek/sub/deep/empty"), 0u);
    EXPECT_EQ(Count("efsopen vek/sub/deep/empty w"), 1u);
    EXPECT_EQ(Requests().front(), "lock on");
    EXPECT_EQ(Requests().back(), "lock off");
    EXPECT_EQ(Messages("CFWUpgradeDataCDMA7627Module::BackupLockFile").front(), "BackupLockFile");
    EXPECT_EQ(Messages("CFWUpgradeDataCDMA7627Module::RestoreLockFile").front(), "RestoreLockFile");
}

TEST_F(LockFiles, AnEmptyFolderGivesAnEmptyBackupAndLeavesAccessOn) {
    Held().efsDirs = {"vek"};
    OpenPort();
    std::vector<upgrade::LockFileEntry> list;
    ASSERT_TRUE(module_.Locks().EnumAllAbsoluteFilePathInEfsDir(packet_, u"vek", list));
    EXPECT_TRUE(list.empty());
    ASSERT_TRUE(module_.Locks().BackupLockFile(list, packet_));
    EXPECT_TRUE(Exists("VEKLock_1"));
    EXPECT_TRUE(Slurp("VEKLock_1").empty());
    EXPECT_TRUE(card_->LockAccessEnabled());
    card_->ClearRequests();
    ASSERT_TRUE(module_.Locks().RestoreLockFile(packet_, list));
    EXPECT_EQ(Requests(), (std::vector<std::string>{"lock on", "lock off"}));
}

TEST_F(LockFiles, TheWalkFailsWithoutTheFolderAndIgnoresDotEntries) {
    OpenPort();
    std::vector<upgrade::LockFileEntry> list;
    EXPECT_FALSE(module_.Locks().EnumAllAbsoluteFilePathInEfsDir(packet_, u"vek", list));

    FillCard();
    Fault("efs_dot_entries:count=0");   // a card that lists "." and ".." would send a plain walk round forever
    list.clear();
    ASSERT_TRUE(module_.Locks().EnumAllAbsoluteFilePathInEfsDir(packet_, u"vek", list));
    EXPECT_EQ(Paths(list), (std::vector<std::string>{"vek/a", "vek/sub/b", "vek/sub/deep/empty"}));

    card_->ClearFaults();
    Fault("efs_endless_listing:count=0");   // a listing without end is given up, not followed forever
    list.clear();
    EXPECT_FALSE(module_.Locks().EnumAllAbsoluteFilePathInEfsDir(packet_, u"vek", list));
    EXPECT_LE(list.size(), 8192u);
    card_->ClearFaults();

    Fault("lock_switch_refused:count=0");
    card_->ClearRequests();
    list.clear();
    EXPECT_FALSE(module_.Locks().EnumAllAbsoluteFilePathInEfsDir(packet_, u"vek", list));
    EXPECT_EQ(Requests(), (std::vector<std::string>{"lock on"}));
}

// A file whose length or content cannot be read completely is never saved:
// an unknown length would be restored as an empty file, a short chunk would
// shift every later file of the backup.
TEST_F(LockFiles, UnknownLengthOrShortReadFailsTheBackupAndKeepsTheOlderOne) {
    FillCard();
    OpenPort();
    std::vector<upgrade::LockFileEntry> list;
    ASSERT_TRUE(module_.Locks().EnumAllAbsoluteFilePathInEfsDir(packet_, u"vek", list));
    const std::vector<uint8_t> older = Pattern(3100, 4);
    Put("VEKLock_1", older);

    Fault("efs_fail:command=0x11,path=vek/sub/deep/empty,count=0");
    EXPECT_FALSE(module_.Locks().BackupLockFile(list, packet_));
    EXPECT_EQ(Requests().back(), "efsclose vek/sub/deep/empty");
    EXPECT_EQ(Slurp("VEKLock_1"), older);
    EXPECT_FALSE(Exists(platform::WideToUtf8(upgrade::ReplacementFileName(u"VEKLock_1"))));

    card_->ClearFaults();
    Fault("efs_short_read:path=vek/sub/b,value=1000,count=0");
    EXPECT_FALSE(module_.Locks().BackupLockFile(list, packet_));
    EXPECT_EQ(Slurp("VEKLock_1"), older);
    const auto messages = Messages("CFWUpgradeDataCDMA7627Module::BackupLockFile");
    EXPECT_EQ(std::count(messages.begin(), messages.end(), "Execute CopyNVFileFromEFS function fail"), 2);
    EXPECT_TRUE(card_->LockAccessEnabled());   // a failed backup does not switch access off
}

TEST_F(LockFiles, ARestoreWithoutItsBackupOrWithTheWrongLengthSendsNothing) {
    FillCard();
    OpenPort();
    std::vector<upgrade::LockFileEntry> list;
    ASSERT_TRUE(module_.Locks().EnumAllAbsoluteFilePathInEfsDir(packet_, u"vek", list));
    ASSERT_TRUE(module_.Locks().BackupLockFile(list, packet_));
    const auto saved = Slurp("VEKLock_1");

    ::unlink("VEKLock_1");
    card_->ClearRequests();
    EXPECT_FALSE(module_.Locks().RestoreLockFile(packet_, list));
    EXPECT_TRUE(Requests().empty());

    Put("VEKLock_1", std::vector<uint8_t>(saved.begin(), saved.end() - 1));
    EXPECT_FALSE(module_.Locks().RestoreLockFile(packet_, list));
    EXPECT_TRUE(Requests().empty());

    Put("VEKLock_1", saved);
    Fault("efs_fail:command=0x05,path=vek/sub/b,value=28,count=0");
    EXPECT_FALSE(module_.Locks().RestoreLockFile(packet_, list));
    EXPECT_EQ(Held().efsFiles["vek/a"], Pattern(100, 1));   // restored before the failure
    EXPECT_EQ(Count("efsclose vek/sub/b"), 0u);
}

TEST(LockBackupName, IsNumberOneInTheCurrentFolder) { EXPECT_EQ(upgrade::LockBackupFileName(), u"VEKLock_1"); }

}  // namespace
}  // namespace backup_test

namespace backup_test {
namespace {

TEST_F(LockFiles, AnUnwritableCurrentFolderFallsBackToTheUserFolderAndAFailingSwitchEndsTheBackup) {
    FillCard();
    OpenPort();
    std::vector<upgrade::LockFileEntry> list;
    ASSERT_TRUE(module_.Locks().EnumAllAbsoluteFilePathInEfsDir(packet_, u"vek", list));

    // The temporary name in the current folder is taken by a folder: the
    // file goes to the per-user folder, and the module remembers where.
    const std::string temporary = platform::WideToUtf8(upgrade::ReplacementFileName(upgrade::LockBackupFileName()));
    ASSERT_EQ(::mkdir(temporary.c_str(), 0755), 0);
    ASSERT_TRUE(module_.Locks().BackupLockFile(list, packet_));
    const std::string fallback = folder_ + "/data/fwupgrade/VEKLock_1";
    EXPECT_EQ(platform::WideToUtf8(module_.Data().lockBackupPath), fallback);
    EXPECT_EQ(Slurp(fallback).size(), 3100u);
    EXPECT_FALSE(Exists("VEKLock_1"));

    // Neither folder takes it: the backup ends before any EFS request.
    module_.Data().lockBackupPath = upgrade::LockBackupFileName();
    ASSERT_EQ(::mkdir((fallback + ".new").c_str(), 0755), 0);
    card_->ClearRequests();
    EXPECT_FALSE(module_.Locks().BackupLockFile(list, packet_));
    EXPECT_TRUE(Traced("Execute hReadFile.Open function fail"));
    EXPECT_TRUE(Requests().empty());
    ASSERT_EQ(::rmdir(temporary.c_str()), 0);

    // The first backup switched access off: the walk switches it on again.
    list.clear();
    ASSERT_TRUE(module_.Locks().EnumAllAbsoluteFilePathInEfsDir(packet_, u"vek", list));
    Fault("lock_switch_refused:count=0");
    EXPECT_FALSE(module_.Locks().BackupLockFile(list, packet_));
    EXPECT_TRUE(Traced("Execute EnableDisableLockFileRW function fail"));
    EXPECT_EQ(Requests().back(), "lock off");
}

}  // namespace
}  // namespace backup_test

// The disk that loses power, on its own: what it keeps of unflushed writes
// and unsynced entries, the cut itself, and the check of old-or-new content.
// The power-cut runs are only as strict as this model.
#include <gtest/gtest.h>

#include "tests/support/PowerCutFileSystem.h"
#include "tests/support/TempFolder.h"

namespace {

using test_support::CutOutcome;
using test_support::DiskImage;
using test_support::PendingWrites;

class PowerCutDisk : public ::testing::Test {
protected:
    void SetUp() override {
        folder_.WriteBytes("old.txt", {1, 2, 3});
        disk_ = std::make_unique<test_support::PowerCutFileSystem>(folder_.path());
        platform::SetFileSystem(disk_.get());
    }
    void TearDown() override { platform::SetFileSystem(nullptr); }

    std::u16string Path(const std::string& name) const { return folder_.WideFile(name); }
    bool Write(const std::string& name, const std::vector<uint8_t>& bytes, bool flush) {
        platform::File file;
        return file.CreateWrite(Path(name)) && file.Write(bytes.data(), uint32_t(bytes.size())) == bytes.size() &&
               (!flush || file.Flush());
    }
    DiskImage After(PendingWrites writes, bool undone) const { return disk_->Durable(CutOutcome{writes, undone}); }

    test_support::TempFolder folder_;
    std::unique_ptr<test_support::PowerCutFileSystem> disk_;
};

TEST_F(PowerCutDisk, AWriteNotFlushedIsDroppedKeptOrTornAtASector) {
    const std::vector<uint8_t> bytes(1500, 7);
    ASSERT_TRUE(Write("old.txt", bytes, false));
    EXPECT_EQ(After(PendingWrites::Dropped, true).files.at("old.txt"), (std::vector<uint8_t>{1, 2, 3}));
    EXPECT_EQ(After(PendingWrites::Kept, true).files.at("old.txt"), bytes);
    EXPECT_EQ(After(PendingWrites::Torn, true).files.at("old.txt"), std::vector<uint8_t>(512, 7));
    ASSERT_TRUE(Write("old.txt", bytes, true));
    EXPECT_EQ(After(PendingWrites::Dropped, true).files.at("old.txt"), bytes) << "a flushed write stays";
}

TEST_F(PowerCutDisk, EntriesNotSyncedAreUndoneUntilTheirFolderIsSynced) {
    ASSERT_TRUE(Write("new.txt", {9}, true));
    ASSERT_TRUE(platform::CreateDirectory(Path("sub")));
    EXPECT_EQ(After(PendingWrites::Kept, true).files.count("new.txt"), 0u);
    EXPECT_EQ(After(PendingWrites::Kept, true).folders.count("sub"), 0u);
    EXPECT_EQ(After(PendingWrites::Kept, false).files.count("new.txt"), 1u);
    ASSERT_TRUE(platform::ReplaceFile(Path("new.txt"), Path("old.txt")));
    EXPECT_EQ(After(PendingWrites::Kept, true).files.at("old.txt"), (std::vector<uint8_t>{1, 2, 3}));
    EXPECT_TRUE(disk_->NeitherOldNorNew(After(PendingWrites::Kept, true)).empty()) << "the old content";
    EXPECT_TRUE(disk_->NeitherOldNorNew(After(PendingWrites::Kept, false)).empty()) << "the new content";

    ASSERT_TRUE(platform::SyncFolder(folder_.Wide()));
    const DiskImage synced = After(PendingWrites::Dropped, true);
    EXPECT_EQ(synced.files.at("old.txt"), std::vector<uint8_t>{9});
    EXPECT_EQ(synced.files.count("new.txt"), 0u);
    EXPECT_EQ(synced.folders.count("sub"), 1u);
}

TEST_F(PowerCutDisk, AFileRenamedBeforeItsDataWasFlushedIsNeitherOldNorNew) {
    ASSERT_TRUE(Write("old.txt.new", std::vector<uint8_t>(600, 5), false));
    ASSERT_TRUE(platform::ReplaceFile(Path("old.txt.new"), Path("old.txt")));
    ASSERT_TRUE(platform::SyncFolder(folder_.Wide()));
    EXPECT_EQ(disk_->NeitherOldNorNew(After(PendingWrites::Torn, true)).size(), 1u);
    EXPECT_EQ(disk_->NeitherOldNorNew(After(PendingWrites::Dropped, false)).size(), 1u);
}

TEST_F(PowerCutDisk, TheCutOperationAndEveryLaterOneFail) {
    int cuts = 0;
    disk_->CutAt(3, [&] { ++cuts; });
    EXPECT_TRUE(platform::PathExists(Path("old.txt")));
    EXPECT_TRUE(platform::CreateDirectory(Path("a")));
    EXPECT_FALSE(platform::CreateDirectory(Path("b")));
    EXPECT_FALSE(platform::PathExists(Path("old.txt")));
    EXPECT_TRUE(disk_->PowerCut());
    EXPECT_EQ(cuts, 1);
    EXPECT_EQ(disk_->Operations().size(), 2u);
    EXPECT_EQ(After(PendingWrites::Kept, false).folders, std::set<std::string>{"a"});

    disk_->Load(After(PendingWrites::Kept, true));
    EXPECT_FALSE(disk_->PowerCut());
    EXPECT_TRUE(platform::PathExists(Path("old.txt")));
    EXPECT_FALSE(platform::PathExists(Path("a")));
}

TEST_F(PowerCutDisk, PathsOutsideTheRootReachTheRealDiskAndNullptrRestoresIt) {
    test_support::TempFolder other;
    platform::File file;
    ASSERT_TRUE(file.CreateWrite(other.WideFile("real.txt")));
    file.Close();
    EXPECT_TRUE(disk_->Operations().empty());
    EXPECT_TRUE(platform::PathExists(other.WideFile("real.txt")));
    platform::SetFileSystem(nullptr);
    EXPECT_FALSE(platform::PathExists(Path("a-folder-only-in-memory")));
    platform::SetFileSystem(disk_.get());
    ASSERT_TRUE(platform::CreateDirectory(Path("a-folder-only-in-memory")));
    platform::SetFileSystem(nullptr);
    EXPECT_FALSE(platform::PathExists(Path("a-folder-only-in-memory")));
}

}  // namespace

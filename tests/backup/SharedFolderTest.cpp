// Folders that several cards' runs share (backups/, pending/) may be made by
// another run between the look and the mkdir. The backup is kept all the
// same: a run that loses that race must not refuse to leave the firmware.
// Two runs of cards with one ESN in the same second race for the kept
// backup's own folder name as well; each keeps its backup in its own folder.
#include <gtest/gtest.h>

#include <memory>

#include "tests/backup/CardRunFixture.h"
#include "tests/support/PassThroughFileSystem.h"
#include "upgrade/run/UpgradeModule.h"

namespace {

using namespace backup_test;

// The real file system, except that each new folder is made "by another
// run": the mkdir happens, and this run is told it failed.
enum class Raced { SharedFolders, KeptBackupFolder };

class RacingFileSystem : public test_support::PassThroughFileSystem {
public:
    explicit RacingFileSystem(Raced raced) : which_(raced) {}
    int raced = 0;

    bool CreateDirectory(const std::u16string& path) override {
        if (!IsRaced(path) || !Real().CreateDirectory(path)) return Real().CreateDirectory(path);
        ++raced;
        return false;
    }

private:
    // The first folder made inside backups/<ESN>/ is the kept backup's own.
    bool IsRaced(const std::u16string& path) {
        const std::string text = platform::WideToUtf8(path);
        if (which_ == Raced::SharedFolders) return text.ends_with("/backups") || text.ends_with("/pending");
        const std::string parent = text.substr(0, text.rfind('/'));
        if (raced > 0 || parent.size() < 17 || parent.substr(parent.size() - 17, 9) != "/backups/") return false;
        return true;
    }
    Raced which_;
};

class SharedFolder : public CardRunFixture {
protected:
    void TearDown() override { platform::SetFileSystem(nullptr); }
    upgrade::UpgradeModule module_;
};

TEST_F(SharedFolder, AFolderAnotherRunMadeAtTheSameMomentStillHoldsTheKeptBackup) {
    Prepare(CardKind::Q7k);
    Plug(original_);
    RacingFileSystem racing(Raced::SharedFolders);
    platform::SetFileSystem(&racing);
    ASSERT_TRUE(module_.BackupCard(kPort, platform::Utf8ToWide(work_ / "staging")));
    platform::SetFileSystem(nullptr);
    EXPECT_GE(racing.raced, 1);
    const std::vector<upgrade::KeptBackup> kept = upgrade::ListKeptBackups(original_.esn);
    ASSERT_EQ(kept.size(), 1u);
    EXPECT_EQ(kept[0].folder, module_.Keeper().KeptBackup());
}

TEST_F(SharedFolder, AKeptBackupFolderNameTakenByAnotherRunGoesToTheNextFreeName) {
    Prepare(CardKind::Q7k);
    Plug(original_);
    RacingFileSystem racing(Raced::KeptBackupFolder);
    platform::SetFileSystem(&racing);
    ASSERT_TRUE(module_.BackupCard(kPort, platform::Utf8ToWide(work_ / "staging")));
    platform::SetFileSystem(nullptr);
    ASSERT_EQ(racing.raced, 1);
    const std::vector<upgrade::KeptBackup> kept = upgrade::ListKeptBackups(original_.esn);
    ASSERT_EQ(kept.size(), 1u) << "the other run's folder holds no record yet";
    EXPECT_EQ(kept[0].folder, module_.Keeper().KeptBackup());
    EXPECT_TRUE(platform::WideToUtf8(kept[0].folder).ends_with("-2")) << platform::WideToUtf8(kept[0].folder);
}

}  // namespace

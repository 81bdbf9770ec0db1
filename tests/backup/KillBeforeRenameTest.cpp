// A whole upgrade killed just before each rename it makes (the host process
// dies with SIGKILL; the card outlives it), then the retry or rescue a user
// makes: the card must end flashed and holding its own data.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "tests/backup/RecoveryFixture.h"
#include "tests/support/RenameWatch.h"

namespace {

using namespace backup_test;
namespace fs = std::filesystem;

class KillBeforeRename : public RecoveryFixture, public ::testing::WithParamInterface<CardKind> {
protected:
    void SetUp() override {
        RecoveryFixture::SetUp();
        Prepare(GetParam());
        platform::SetFileSystem(&watch_);
    }
    void TearDown() override {
        platform::SetFileSystem(nullptr);
        RecoveryFixture::TearDown();
    }

    // The package and nothing a run left: no backup, no record, no kept backups.
    void Forget() const {
        fs::remove_all(work_ / "data");
        for (const std::string& folder : {work_.path(), Package()})
            for (const auto& entry : fs::directory_iterator(folder)) {
                const std::string name = entry.path().filename().string();
                if (name.rfind("VEKLock_1", 0) == 0 || name.rfind("channel.nvm", 0) == 0 ||
                    name.rfind("backup-record.txt", 0) == 0)
                    fs::remove(entry.path());
            }
    }

    // Runs the upgrade in a child that dies before rename n; the card as it
    // was then is taken up again. False when the child got past it.
    bool KilledRun(uint32_t n) {
        Forget();
        Plug(original_);
        const std::string state = work_ / "card-at-the-kill.json";
        const pid_t child = fork();
        if (child == 0) {
            watch_.Watch([&](uint32_t rename, const std::u16string&) {
                if (rename != n) return;
                std::ofstream(state) << CardState();
                raise(SIGKILL);
            });
            (void)upgrade::UpgradeModule().FirmWareUpgrade(kPort, platform::Utf8ToWide(Package()));
            _exit(3);
        }
        int status = 0;
        if (child < 0 || waitpid(child, &status, 0) != child || !WIFSIGNALED(status)) return false;
        std::ifstream in(state);
        ResumeCard({std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()});
        return true;
    }

    test_support::RenameWatch watch_;
};

TEST_P(KillBeforeRename, EveryRenameOfAWholeRunIsRecoveredFrom) {
    Plug(original_);
    watch_.Watch({});
    ASSERT_EQ(upgrade::UpgradeModule().FirmWareUpgrade(kPort, platform::Utf8ToWide(Package())), 0);
    const uint32_t renames = watch_.Renames();
    NoteOwnData();
    ASSERT_GE(renames, 8u) << "the backup files, the record at each step and the kept copies";

    for (uint32_t n = 1; n <= renames; ++n) {
        ASSERT_TRUE(KilledRun(n)) << "the run did not reach rename " << n;
        const bool newFirmwareAtTheKill = card_->RunningNewFirmware();
        std::string how;
        const int32_t result = NextRun(how);
        EXPECT_EQ(result, 0) << "the " << how << " after the kill before rename " << n;
        const std::vector<std::string> problems = RecoveryProblems(newFirmwareAtTheKill);
        EXPECT_TRUE(problems.empty()) << "killed before rename " << n << " of " << renames << ", then " << how << ": "
                                      << ::testing::PrintToString(problems);
    }
    std::cout << renames << " renames, each a point the host was killed at\n";
}

INSTANTIATE_TEST_SUITE_P(BothKindsOfCard, KillBeforeRename, ::testing::Values(CardKind::Q7k, CardKind::NeedsOverride),
                         KindName);

}  // namespace

// A restore stopped half-way leaves the card wiped and its restore pending.
// A backup of that card must not pass what the wipe left off as the card's
// own data, and the backup `restore` takes by default afterwards gives the
// card back what it had before the first run: the module's operations
// against the virtual card, chosen as the fwupgrade commands choose them.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>

#include <nlohmann/json.hpp>

#include "host/fwupgrade/cli/BackupsCommand.h"
#include "host/fwupgrade/card/CardBackup.h"
#include "tests/backup/CardRunFixture.h"

namespace {

using namespace backup_test;
using PendingRestore = CardRunFixture;

std::u16string Wide(const std::string& text) { return platform::Utf8ToWide(text); }
std::string Narrow(const std::u16string& text) { return platform::WideToUtf8(text); }

class StoppedRestore : public CardRunFixture {
protected:
    // The upgrade fails after the wipe; the restore that follows is killed
    // in the middle of the NV items. The card is plugged in as it was left.
    void LeaveTheCardWipedWithItsRestorePending() {
        Prepare(CardKind::Q7k);
        Plug(original_, Faults({"answer_once_after_reset"}));
        ASSERT_EQ(Run(), -13314);
        Replug();
        const std::string cardState = work_ / "card-at-the-kill.json";
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            card_->SetTranscript([&](const std::string& line) {
                if (line.find(" diag < 275f06") == std::string::npos) return;   // the write of item 1631
                std::ofstream(cardState) << sim::CardDataToJson(card_->Data()).dump();
                raise(SIGKILL);
            });
            upgrade::UpgradeModule module;
            (void)module.RestoreCard(kPort, Wide(Package()), false);
            _exit(0);
        }
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << "the restore reached item 1631";
        std::ifstream in(cardState);
        Plug(sim::CardDataFromJson(nlohmann::json::parse(in)));
        ASSERT_EQ(card_->Data().wifi, (std::array<uint8_t, 6>{})) << "the Wi-Fi address is what the wipe left";
        ASSERT_TRUE(Record().RestorePending());
        ASSERT_EQ(upgrade::PendingRecordOf(original_.esn), RecordPath());
    }
};

TEST_F(StoppedRestore, ABackupOfTheWipedCardIsKeptApartAndNeverRestoredByDefault) {
    LeaveTheCardWipedWithItsRestorePending();
    const upgrade::BackupRecord pending = Record();

    upgrade::UpgradeModule module;
    ASSERT_TRUE(module.BackupCard(kPort, Wide(work_ / "staging")));
    EXPECT_TRUE(module.Keeper().RestoringPending()) << "the backup knows the card's restore is pending";
    EXPECT_TRUE(Logged("A restore of this card is pending from " + Package() + "/backup-record.txt"));
    upgrade::BackupRecord read;
    std::string error;
    ASSERT_EQ(upgrade::ReadBackupRecord(module.Keeper().KeptReadNow() + u"/backup-record.txt", read, error),
              upgrade::RecordRead::Read)
        << error;
    EXPECT_EQ(read.readWhilePending, pending.time);
    EXPECT_EQ(read.wifi, (std::array<uint8_t, 6>{}));

    const std::vector<fwupgrade::KeptBackupRow> rows = fwupgrade::KeptBackupRows({});
    ASSERT_EQ(rows.size(), 2u);
    int apart = 0;
    for (const fwupgrade::KeptBackupRow& row : rows)
        apart += row.state == fwupgrade::KeptState::ReadWhilePending && row.folder == Narrow(module.Keeper().KeptReadNow());
    EXPECT_EQ(apart, 1);

    // While the pending record is there it is the default; once the package
    // folder is gone, the card's own kept backup is, never the wiped read.
    EXPECT_EQ(fwupgrade::DefaultRestoreSource(original_.esn), Package());
    std::filesystem::remove_all(Package());
    const std::string source = fwupgrade::DefaultRestoreSource(original_.esn);
    ASSERT_FALSE(source.empty());
    EXPECT_NE(source, Narrow(module.Keeper().KeptReadNow()));

    upgrade::UpgradeModule restorer;
    ASSERT_TRUE(restorer.RestoreCard(kPort, Wide(source), false));
    ExpectOriginalData();
}

// The package folder of the pending record is gone, its note is not: the
// card's restore is still pending, so a backup keeps what it reads apart,
// and a restore of the card's own kept backup ends the pending.
TEST_F(StoppedRestore, WithThePendingRecordGoneABackupIsStillKeptApart) {
    LeaveTheCardWipedWithItsRestorePending();
    std::filesystem::remove_all(Package());

    upgrade::UpgradeModule module;
    ASSERT_TRUE(module.BackupCard(kPort, Wide(work_ / "staging")));
    EXPECT_TRUE(Logged("which cannot be used (it no longer exists)"));
    EXPECT_EQ(module.Keeper().Record().readWhilePending, "unknown");
    std::string time, folder;
    ASSERT_TRUE(fwupgrade::ReadApartFromPending(Narrow(module.Keeper().KeptBackup()), original_.esn, time, folder));
    EXPECT_EQ(time, "unknown");
    EXPECT_EQ(folder, Package());
    const std::string source = fwupgrade::DefaultRestoreSource(original_.esn);
    ASSERT_FALSE(source.empty());
    EXPECT_NE(source, Narrow(module.Keeper().KeptBackup())) << "the read kept apart is never the default";

    upgrade::UpgradeModule restorer;
    ASSERT_TRUE(restorer.RestoreCard(kPort, Wide(source), false));
    ExpectOriginalData();
    EXPECT_TRUE(upgrade::PendingRecordOf(original_.esn).empty()) << "the card has its data back";

    upgrade::UpgradeModule again;
    ASSERT_TRUE(again.BackupCard(kPort, Wide(work_ / "staging2")));
    EXPECT_FALSE(fwupgrade::ReadApartFromPending(Narrow(again.Keeper().KeptBackup()), original_.esn, time, folder))
        << "its own data again";
}

TEST_F(StoppedRestore, TheBackupCommandSaysARestoreIsPendingAndHowToFinishIt) {
    fwupgrade::CardDataOptions card;
    card.device = "/dev/serial/by-id/usb-vek_W326-if00";
    const std::string words = fwupgrade::PendingRestoreWords(card, "20261208T034000Z", "/home/u/pkg");
    EXPECT_NE(words.find("a restore is pending"), std::string::npos) << words;
    EXPECT_NE(words.find("the backup of 20261208T034000Z in /home/u/pkg"), std::string::npos) << words;
    EXPECT_NE(words.find("fwupgrade restore --device /dev/serial/by-id/usb-vek_W326-if00\n"), std::string::npos) << words;
    card.device.clear();
    card.usbPort = "1-1.2";
    const std::string gone = fwupgrade::PendingRestoreWords(card, "unknown", "/home/u/pkg");
    EXPECT_NE(gone.find("its newest own kept backup (the pending record noted in /home/u/pkg can no longer be used)"),
              std::string::npos)
        << gone;
    EXPECT_NE(gone.find("fwupgrade restore --usb-port 1-1.2\n"), std::string::npos) << gone;
}

// An upgrade from another package folder finds the restore pending through
// the card's note and writes back the card's own data, not the wipe.
TEST_F(StoppedRestore, AnUpgradeFromAnotherPackageRestoresThePendingBackup) {
    LeaveTheCardWipedWithItsRestorePending();
    const std::string second = work_ / "package2";
    std::string error;
    ASSERT_TRUE(sim::MakePackage(second, {}, error)) << error;
    session_->Log().Clear();
    ASSERT_EQ(session_->RunUpgrade(kPort, Wide(second)).result, 0);
    EXPECT_TRUE(Logged("A restore of this card is pending from " + Package() + "/backup-record.txt"));
    ExpectOriginalData();
    EXPECT_TRUE(upgrade::PendingRecordOf(original_.esn).empty()) << "nothing is left pending";
}

}  // namespace

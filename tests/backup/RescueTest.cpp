// A card's backup on its own, its restore, and the rescue of cards a run
// left in the boot downloader or in the flash programmer: the module's
// operations against the virtual card, as the fwupgrade commands call them.
#include <gtest/gtest.h>

#include "tests/backup/CardRunFixture.h"

namespace {

using namespace backup_test;
using Rescue = CardRunFixture;

TEST_F(Rescue, ABackupWrittenBackAfterAWipeGivesTheCardItsDataBack) {
    Prepare(CardKind::Q7k);
    expected_ = original_;   // the backup alone clears nothing
    Plug(original_);
    upgrade::UpgradeModule module;
    const std::u16string staging = platform::Utf8ToWide(work_ / "staging");
    ASSERT_TRUE(module.BackupCard(kPort, staging));
    EXPECT_FALSE(card_->LockAccessEnabled()) << "the backup switches lock-file access off again";
    EXPECT_EQ(card_->ModeChanges(), 0u);
    const std::vector<upgrade::KeptBackup> kept = upgrade::ListKeptBackups(original_.esn);
    ASSERT_EQ(kept.size(), 1u);
    EXPECT_EQ(kept[0].folder, module.Keeper().KeptBackup());

    card_->MutableData() = sim::DefaultCardData();
    card_->MutableData().wifi = {};
    card_->MutableData().efsFiles.clear();
    for (auto& [item, nv] : card_->MutableData().nv)
        if (!nv.readOnly) nv.data.fill(0);   // as cefs wipes it

    ASSERT_TRUE(module.RestoreCard(kPort, kept[0].folder, false));
    ExpectOriginalData();
    EXPECT_EQ(module.Keeper().Record().nvRestore, upgrade::RestoreResult::Done);
    EXPECT_EQ(module.Keeper().Record().wifiRestore, upgrade::RestoreResult::Done);
    std::string error;
    upgrade::BackupRecord unchanged;
    ASSERT_EQ(upgrade::ReadBackupRecord(kept[0].folder + u"/backup-record.txt", unchanged, error),
              upgrade::RecordRead::Read);
    EXPECT_EQ(unchanged.nvRestore, upgrade::RestoreResult::NotRun) << "a kept backup is never rewritten";

    // Another card: refused unless forced.
    sim::CardData other = sim::DefaultCardData();
    other.esn = kOtherEsn;
    Plug(other);
    session_->Log().Clear();
    EXPECT_FALSE(module.RestoreCard(kPort, kept[0].folder, false));
    EXPECT_TRUE(Logged("The backup belongs to the card with ESN 8012A5C3, this card has ESN 11223344"));
    EXPECT_TRUE(module.RestoreCard(kPort, kept[0].folder, true));
}

TEST_F(Rescue, ACardLeftInItsBootDownloaderGetsEveryImageAndItsDataBack) {
    Prepare(CardKind::Q7k);
    // The programmer's first block is lost three times: the run ends in the boot downloader.
    Plug(original_, Faults({"silence:command=0x0F,mode=download,count=3"}));
    ASSERT_EQ(Run(), -13314);
    ASSERT_EQ(card_->Mode(), sim::CardMode::BootDownloader);

    upgrade::UpgradeModule module;
    ASSERT_EQ(module.RescueCard(kPort, platform::Utf8ToWide(Package()), u""), 0);
    EXPECT_EQ(module.Data().lastCardState, upgrade::CardState::BootDownloader);
    EXPECT_TRUE(card_->RunningNewFirmware());
    const sim::FlashCheck check = sim::CheckFlashAgainstPackage(card_->Data(), Package(), true);
    EXPECT_TRUE(check.ok) << ::testing::PrintToString(check.problems);
    ExpectOriginalData();
    EXPECT_FALSE(Record().RestorePending());
    EXPECT_TRUE(Record().restored);
}

TEST_F(Rescue, ACardLeftInTheProgrammerWhileSystemStreamedIsFlashedAgainAndRestored) {
    Prepare(CardKind::NeedsOverride);
    // Block 1 of system.img arrives damaged eleven times: the image fails half written.
    Plug(original_, Faults({"bad_block:image=system.img,value=1,count=11"}));
    ASSERT_EQ(Run(), -13314);
    ASSERT_EQ(card_->Mode(), sim::CardMode::FlashProgrammer);
    EXPECT_TRUE(card_->Data().partitions.at("system.img").incomplete);

    upgrade::UpgradeModule module;
    ASSERT_EQ(module.RescueCard(kPort, platform::Utf8ToWide(Package()), u""), 0);
    EXPECT_EQ(module.Data().lastCardState, upgrade::CardState::FlashProgrammer);
    EXPECT_TRUE(card_->RunningNewFirmware());
    const sim::FlashCheck check = sim::CheckFlashAgainstPackage(card_->Data(), Package(), true);
    EXPECT_TRUE(check.ok) << ::testing::PrintToString(check.problems);
    ExpectOriginalData();
}

TEST_F(Rescue, ACardBackInItsFirmwareIsUpgradedAsARetry) {
    Prepare(CardKind::NeedsOverride);
    Plug(original_, Faults({"answer_once_after_reset"}));
    ASSERT_EQ(Run(), -13314);
    Replug();
    upgrade::UpgradeModule module;
    session_->Log().Clear();
    ASSERT_EQ(module.RescueCard(kPort, platform::Utf8ToWide(Package()), u""), 0);
    EXPECT_EQ(module.Data().lastCardState, upgrade::CardState::Firmware);
    EXPECT_TRUE(Logged("that an earlier run left pending"));
    ExpectOriginalData();
}

TEST_F(Rescue, WithoutABackupACardOutsideItsFirmwareIsLeftAlone) {
    Prepare(CardKind::Q7k);
    Plug(original_, Faults({"silence:command=0x0F,mode=download,count=3"}));
    ASSERT_EQ(Run(), -13314);
    std::filesystem::remove(Package() + "/channel.nvm");
    const uint32_t changes = card_->ModeChanges();

    upgrade::UpgradeModule module;
    session_->Log().Clear();
    EXPECT_EQ(module.RescueCard(kPort, platform::Utf8ToWide(Package()), u""), -13314);
    EXPECT_TRUE(Logged("a rescue does not wipe a card without one"));
    EXPECT_EQ(card_->Mode(), sim::CardMode::BootDownloader);
    EXPECT_EQ(card_->ModeChanges(), changes);

    // A kept backup named on the command line does.
    const std::vector<upgrade::KeptBackup> kept = upgrade::ListKeptBackups(original_.esn);
    ASSERT_EQ(kept.size(), 1u);
    EXPECT_EQ(module.RescueCard(kPort, platform::Utf8ToWide(Package()), kept[0].folder), 0);
    ExpectOriginalData();
}

}  // namespace

namespace {

using namespace backup_test;

// The new firmware starts on its AT-command port: the probes before the ESN
// request must not keep the switch to diagnostics from working.
TEST_F(CardRunFixture, ACardOnItsAtPortIsFoundInItsFirmware) {
    sim::CardData data = sim::DefaultCardData();
    data.startInAtMode = true;
    Plug(data);
    upgrade::UpgradeModule module;
    packet::CPacket packet;
    EXPECT_EQ(module.ProbeCardState(packet, kPort), upgrade::CardState::Firmware);
    EXPECT_EQ(module.CardEsn(), data.esn);
    EXPECT_EQ(card_->Mode(), sim::CardMode::Diagnostic);
    packet.Close();

    opener_.Detach(kPort);
    EXPECT_EQ(module.ProbeCardState(packet, kPort), upgrade::CardState::Absent);
}

}  // namespace

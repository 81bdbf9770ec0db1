// The edges of a rescue: a backup of another card refused before anything
// is written, a rescue that restores nothing when asked to, message 1025 on
// a card an interrupted run left outside its firmware, and how long a silent
// card keeps a run from its verdict (on the recording clock).
#include <gtest/gtest.h>

#include "packet/Packet.h"
#include "tests/backup/CardRunFixture.h"

namespace {

using namespace backup_test;
using RescueEdges = CardRunFixture;

constexpr uint32_t kSilentVerdictMs = 45000;
constexpr uint32_t kLookAtCardMs = 15000;

class RescueEdgesWithOtherCard : public CardRunFixture {
protected:
    // A kept backup of another card, taken on this machine.
    std::u16string OtherCardsBackup() {
        sim::CardData other = sim::DefaultCardData();
        other.esn = kOtherEsn;
        other.wifi[5] ^= 0x5a;
        Plug(other);
        upgrade::UpgradeModule module;
        EXPECT_TRUE(module.BackupCard(kPort, platform::Utf8ToWide(work_ / "other")));
        const std::vector<upgrade::KeptBackup> kept = upgrade::ListKeptBackups(kOtherEsn);
        EXPECT_EQ(kept.size(), 1u);
        return kept.empty() ? std::u16string() : kept[0].folder;
    }

    uint32_t ElapsedMs(uint32_t since) { return clock_.TickCount() - since; }
};

TEST_F(RescueEdgesWithOtherCard, ACardOutsideItsFirmwareRefusesAnotherCardsBackupBeforeAnyWrite) {
    Prepare(CardKind::Q7k);
    const std::u16string otherBackup = OtherCardsBackup();
    Plug(original_, Faults({"silence:command=0x0F,mode=download,count=3"}));
    ASSERT_EQ(Run(), -13314);
    ASSERT_EQ(card_->Mode(), sim::CardMode::BootDownloader);
    const std::u16string ownNote = upgrade::PendingRecordOf(original_.esn);
    const uint32_t changes = card_->ModeChanges();

    upgrade::UpgradeModule module;
    session_->Log().Clear();
    EXPECT_EQ(module.RescueCard(kPort, platform::Utf8ToWide(Package()), otherBackup), -13314);
    EXPECT_TRUE(Logged("belongs to the card with ESN 11223344, this card has ESN 8012A5C3: nothing is written"));
    EXPECT_EQ(card_->Mode(), sim::CardMode::BootDownloader);
    EXPECT_EQ(card_->ModeChanges(), changes) << "nothing was sent that changes the card";
    EXPECT_TRUE(upgrade::PendingRecordOf(kOtherEsn).empty()) << "the other card gets no pending mark";
    EXPECT_EQ(upgrade::PendingRecordOf(original_.esn), ownNote);
    EXPECT_TRUE(Record().RestorePending()) << "the card's own backup still waits for it";

    // The card's own backup brings it back.
    ASSERT_EQ(module.RescueCard(kPort, platform::Utf8ToWide(Package()), u""), 0);
    ExpectOriginalData();
}

TEST_F(RescueEdgesWithOtherCard, ACardInItsFirmwareRefusesAnotherCardsBackupAndKeepsItsData) {
    Prepare(CardKind::NeedsOverride);
    const std::u16string otherBackup = OtherCardsBackup();
    Plug(original_);
    upgrade::UpgradeModule module;
    session_->Log().Clear();
    EXPECT_EQ(module.RescueCard(kPort, platform::Utf8ToWide(Package()), otherBackup), -13314);
    EXPECT_TRUE(Logged("belongs to the card with ESN 11223344, this card has ESN 8012A5C3"));
    EXPECT_EQ(card_->ModeChanges(), 0u);
    EXPECT_FALSE(card_->RunningNewFirmware());
    EXPECT_FALSE(std::filesystem::exists(Package() + "/backup-record.txt")) << "no record, so nothing pending";
    EXPECT_TRUE(upgrade::PendingRecordOf(kOtherEsn).empty());
    EXPECT_TRUE(upgrade::PendingRecordOf(original_.esn).empty());
    ExpectOriginalData();
}

TEST_F(RescueEdges, WithoutDataACardOutsideItsFirmwareIsFlashedAndNothingGoesBack) {
    Prepare(CardKind::Q7k);
    Plug(original_, Faults({"silence:command=0x0F,mode=download,count=3"}));
    ASSERT_EQ(Run(), -13314);
    const std::vector<upgrade::KeptBackup> kept = upgrade::ListKeptBackups(original_.esn);
    ASSERT_EQ(kept.size(), 1u);
    std::filesystem::remove(Package() + "/channel.nvm");

    upgrade::UpgradeModule module;
    session_->Log().Clear();
    ASSERT_EQ(module.RescueCard(kPort, platform::Utf8ToWide(Package()), u"", true), 0);
    EXPECT_TRUE(Logged("Nothing is restored: the rescue was asked to go without the card's data"));
    EXPECT_TRUE(card_->RunningNewFirmware());
    const sim::FlashCheck check = sim::CheckFlashAgainstPackage(card_->Data(), Package(), true);
    EXPECT_TRUE(check.ok) << ::testing::PrintToString(check.problems);
    EXPECT_NE(card_->Data().wifi, expected_.wifi) << "the wipe took the Wi-Fi address and nothing put it back";
    EXPECT_TRUE(upgrade::ListKeptBackups(original_.esn).size() == 1u) << "no backup of a wiped card is kept";

    // The kept backup still gives the card its data back.
    ASSERT_TRUE(module.RestoreCard(kPort, kept[0].folder, false));
    ExpectOriginalData();
}

TEST_F(RescueEdges, Message1025FinishesARunThatLeftTheCardInItsBootDownloader) {
    Prepare(CardKind::Q7k);
    Plug(original_, Faults({"silence:command=0x0F,mode=download,count=3"}));
    ASSERT_EQ(Run(), -13314);
    ASSERT_EQ(card_->Mode(), sim::CardMode::BootDownloader);

    ASSERT_EQ(Run(), 0);
    EXPECT_TRUE(Logged("holds a restore pending: look for the card outside it"));
    EXPECT_TRUE(card_->RunningNewFirmware());
    const sim::FlashCheck check = sim::CheckFlashAgainstPackage(card_->Data(), Package(), true);
    EXPECT_TRUE(check.ok) << ::testing::PrintToString(check.problems);
    ExpectOriginalData();
    EXPECT_FALSE(Record().RestorePending());
}

TEST_F(RescueEdges, Message1025FinishesARunThatLeftTheCardInTheProgrammer) {
    Prepare(CardKind::NeedsOverride);
    Plug(original_, Faults({"bad_block:image=system.img,value=1,count=11"}));
    ASSERT_EQ(Run(), -13314);
    ASSERT_EQ(card_->Mode(), sim::CardMode::FlashProgrammer);

    ASSERT_EQ(Run(), 0);
    EXPECT_TRUE(card_->RunningNewFirmware());
    ExpectOriginalData();
    EXPECT_FALSE(Record().RestorePending());
}

TEST_F(RescueEdges, Message1025FromAnotherPackageFolderFindsThePendingRecordInTheKeptStore) {
    Prepare(CardKind::Q7k);
    Plug(original_, Faults({"silence:command=0x0F,mode=download,count=3"}));
    ASSERT_EQ(Run(), -13314);
    const std::string other = work_ / "other-package";
    std::string error;
    ASSERT_TRUE(sim::MakePackage(other, sim::PackageOptions{}, error)) << error;

    session_->Log().Clear();
    ASSERT_EQ(session_->RunUpgrade(kPort, platform::Utf8ToWide(other)).result, 0);
    EXPECT_TRUE(Logged(Package() + "/backup-record.txt holds a restore pending"));
    EXPECT_TRUE(card_->RunningNewFirmware());
    ExpectOriginalData();
    EXPECT_FALSE(Record().RestorePending()) << "the noted record learns the restore is done";
    EXPECT_TRUE(upgrade::PendingRecordOf(original_.esn).empty());
}

TEST_F(RescueEdges, Message1025WithSeveralPendingCardsInTheKeptStoreLeavesTheCardAlone) {
    Prepare(CardKind::Q7k);
    Plug(original_, Faults({"silence:command=0x0F,mode=download,count=3"}));
    ASSERT_EQ(Run(), -13314);
    // Another card's restore pending too, noted by a copy of this one's record under its ESN.
    upgrade::BackupRecord another = Record();
    another.esn = kOtherEsn;
    const std::u16string anotherPath = platform::Utf8ToWide(work_ / "another-record.txt");
    std::string error;
    ASSERT_TRUE(upgrade::WriteBackupRecord(anotherPath, another, error)) << error;
    upgrade::NotePendingRecord(kOtherEsn, anotherPath, true);
    const std::string other = work_ / "other-package";
    ASSERT_TRUE(sim::MakePackage(other, sim::PackageOptions{}, error)) << error;
    const uint32_t changes = card_->ModeChanges();

    session_->Log().Clear();
    EXPECT_EQ(session_->RunUpgrade(kPort, platform::Utf8ToWide(other)).result, -13314);
    EXPECT_TRUE(Logged("Several cards have a restore pending on this computer"));
    EXPECT_EQ(card_->ModeChanges(), changes);

    upgrade::UpgradeModule module;
    ASSERT_EQ(module.RescueCard(kPort, platform::Utf8ToWide(Package()), u""), 0);
    ExpectOriginalData();
}

TEST_F(RescueEdges, Message1025WithoutAPendingRecordLeavesACardOutsideItsFirmwareAlone) {
    Prepare(CardKind::Q7k);
    Plug(original_, Faults({"silence:command=0x0F,mode=download,count=3"}));
    ASSERT_EQ(Run(), -13314);
    std::filesystem::remove(Package() + "/backup-record.txt");
    const uint32_t changes = card_->ModeChanges();

    EXPECT_EQ(Run(), -13314);
    EXPECT_FALSE(Logged("look for the card outside it"));
    EXPECT_EQ(card_->Mode(), sim::CardMode::BootDownloader);
    EXPECT_EQ(card_->ModeChanges(), changes);

    // The rescue from the kept backup still brings the card back.
    const std::vector<upgrade::KeptBackup> kept = upgrade::ListKeptBackups(original_.esn);
    ASSERT_FALSE(kept.empty());
    upgrade::UpgradeModule module;
    ASSERT_EQ(module.RescueCard(kPort, platform::Utf8ToWide(Package()), kept.back().folder), 0);
    ExpectOriginalData();
}

TEST_F(RescueEdgesWithOtherCard, ASilentCardGetsAVerdictWithinTheBoundAndALookAtItWithinItsOwn) {
    Prepare(CardKind::Q7k);
    Plug(original_, Faults({"silence:count=0"}));
    uint32_t start = clock_.TickCount();
    EXPECT_EQ(Run(), -13314);
    EXPECT_LE(ElapsedMs(start), kSilentVerdictMs);

    upgrade::UpgradeModule module;
    packet::CPacket packet;
    start = clock_.TickCount();
    EXPECT_EQ(module.ProbeCardState(packet, kPort), upgrade::CardState::Silent);
    EXPECT_LE(ElapsedMs(start), kLookAtCardMs);
    packet.Close();

    // Once it answers again, nothing of its data was touched.
    Plug(original_);
    ASSERT_EQ(Run(), 0);
    ExpectOriginalData();
}

}  // namespace

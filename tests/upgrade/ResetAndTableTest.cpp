// The end of a run against the virtual card: the partition table and its
// override, the reset into the new firmware, and the Q7k item clearing.
#include "CardFixture.h"

using namespace upgrade_test;

namespace {

class ResetAndTableTest : public CardFixture {};

TEST_F(ResetAndTableTest, ResetFindsTheCardTwiceInItsNewFirmware) {
    StartCard();
    MakePackage();
    ReachProgrammer();
    EXPECT_TRUE(module_.Port().ResetMobileSDP(*packet_)) << trace_.Dump();
    EXPECT_TRUE(card_->RunningNewFirmware());
    EXPECT_EQ(card_->Mode(), sim::CardMode::Diagnostic);
    EXPECT_TRUE(ContainsInOrder(clock_.Pauses(), {2000, 1000, 100, 100, 100, 1000, 1000}));
    EXPECT_TRUE(trace_.Contains("Execute CheckPhoneInfo function"));
}

TEST_F(ResetAndTableTest, CardThatAnswersOnlyOnceAfterTheResetIsNotTakenAsRestarted) {
    StartCard(sim::DefaultCardData(), Faults({"answer_once_after_reset"}));
    MakePackage();
    ReachProgrammer();
    EXPECT_FALSE(module_.Port().ResetMobileSDP(*packet_));
    int checks = 0;
    for (const TraceLine& line : trace_.lines()) checks += line.message == "Execute CheckPhoneInfo function";
    EXPECT_EQ(checks, 60) << "the second phase runs all its passes";
}

TEST_F(ResetAndTableTest, MatchingTableLeavesTheOverrideClear) {
    StartCard();
    MakePackage();
    ReachProgrammer();
    packet_->SetPartitionOverride(false);
    EXPECT_TRUE(module_.Writer().DownloadPartitionTable(*packet_));
    EXPECT_FALSE(packet_->PartitionOverride());
}

TEST_F(ResetAndTableTest, NewLayoutIsAcceptedOnlyWithTheOverride) {
    StartCard();
    sim::PackageOptions options;
    options.newPartitionLayout = true;
    MakePackage(options);
    ReachProgrammer();
    packet_->SetPartitionOverride(false);
    EXPECT_TRUE(module_.Writer().DownloadPartitionTable(*packet_));
    EXPECT_TRUE(packet_->PartitionOverride());
    EXPECT_TRUE(sim::CheckFlashAgainstPackage(card_->Data(), package_.path(), false).problems.size() > 0)
        << "only the table is written so far";
}

TEST_F(ResetAndTableTest, DealQ7KRetriesTheItemWriteTenTimes) {
    StartCard(sim::DefaultCardData(), Faults({"nv_refuse:item=96,command=0x27,count=0"}));
    ASSERT_TRUE(module_.Port().InitPort(*packet_, kCardPort));
    clock_.ClearPauses();
    EXPECT_FALSE(module_.Switch().DealQ7K(*packet_));
    std::vector<uint32_t> pauses = clock_.Pauses();
    EXPECT_EQ(std::count(pauses.begin(), pauses.end(), 200u), 10);
}

TEST_F(ResetAndTableTest, DealQ7KClearsItem96) {
    StartCard();
    ASSERT_TRUE(module_.Port().InitPort(*packet_, kCardPort));
    EXPECT_TRUE(module_.Switch().DealQ7K(*packet_));
    const auto& data = card_->Data().nv.at(96).data;
    EXPECT_TRUE(std::all_of(data.begin(), data.end(), [](uint8_t b) { return b == 0; }));
}

TEST_F(ResetAndTableTest, BootLoadersAndImagesLandInTheFlash) {
    StartCard();
    MakePackage();
    ReachProgrammer();
    const upgrade::DownloadFileList& files = module_.Images().DownloadFiles();
    packet_->SetPartitionOverride(false);
    ASSERT_TRUE(module_.Writer().DownloadPartitionTable(*packet_));
    ASSERT_TRUE(module_.Writer().DownloadSecondbootloaderheader(*packet_));
    ASSERT_TRUE(module_.Writer().DownloadSecondbootloader(*packet_));
    ASSERT_TRUE(module_.Writer().WindowsDownloadwithHeaderHS(*packet_, files.strOemsblhdFilePath, files.strOemsblFilePath, 0x04,
                                                    13, 14));
    ASSERT_TRUE(module_.Writer().WindowsDownloadwithHeaderHS(*packet_, files.strAmsshdFilePath, files.strAmssFilePath, 0x05, 14,
                                                    25));
    ASSERT_TRUE(module_.Writer().DownloadAppsbootloader(*packet_));
    ASSERT_TRUE(module_.Writer().WindowsDownloadHS(*packet_, files.strBootFilePath, 0x14, 26, 28));
    ASSERT_TRUE(module_.Writer().WindowsDownloadHS(*packet_, files.strSystemPath, 0x15, 28, 90));
    ASSERT_TRUE(module_.Writer().WindowsDownloadHS(*packet_, files.strUserdataFilePath, 0x16, 90, 94));
    ASSERT_TRUE(module_.Writer().EraseSector(*packet_, "misc.img"));
    ASSERT_TRUE(module_.Writer().EraseSector(*packet_, "cache.img"));
    ASSERT_TRUE(module_.Writer().WindowsDownloadHS(*packet_, files.strSplashFilePath, 0x18, 94, 95));
    ASSERT_TRUE(module_.Writer().WindowsDownloadHS(*packet_, files.strRecoveryFilePath, 0x17, 95, 96));
    const sim::FlashCheck check = sim::CheckFlashAgainstPackage(card_->Data(), package_.path(), false);
    EXPECT_TRUE(check.ok) << ::testing::PrintToString(check.problems);
    EXPECT_TRUE(Violations().empty()) << ::testing::PrintToString(Violations());
    // Default package: system.img of three blocks reports 35, 55 and 76.
    EXPECT_TRUE(ContainsInOrder(std::vector<uint32_t>(progress_.begin(), progress_.end()), {14, 35, 55, 76}));
}

}  // namespace

#include "tests/backup/BackupFixture.h"
#include "upgrade/NvBackupTable.h"

namespace backup_test {
namespace {

constexpr const char* kRun = "CFWUpgradeDataCDMA7627Module::FirmWareUpgrade";

class Phases : public BackupTest {
protected:
    void SetUp() override {
        BackupTest::SetUp();
        FillCard();
        module_.SetChannelNvPath(ChannelPathW());
        OpenPort();
    }
    bool Backup() { return module_.RunBackupPhase(packet_, platform::Utf8ToWide(folder_)); }
    // What the rewritten file system of the new firmware looks like.
    void WipeCard() {
        for (auto& [item, data] : card_.nv) {
            data.fill(0);
        }
        card_.wifi = {};
        card_.files.clear();
        card_.dirs = {"vek"};
    }
};

TEST_F(Phases, BackupAndRestoreGiveTheCardBackItsOwnData) {
    card_.inactive = {1633};
    card_.readOnly = {1720};
    const auto nvBefore = card_.nv;
    const auto wifiBefore = card_.wifi;
    const auto filesBefore = card_.files;

    ASSERT_TRUE(Backup());
    EXPECT_EQ(Messages(kRun), (std::vector<std::string>{"Function: CreateNVBackupDirectory", "Function: ReadWiFiAddress1",
                                                        "EnumAllAbsoluteFilePathInEfsDir", "Function: BackupNVMOP"}));
    EXPECT_TRUE(module_.BackupState().wifiSaved);
    EXPECT_TRUE(module_.BackupState().lockFilesSaved);
    EXPECT_EQ(Slurp(ChannelPath()).size(), 816000u);

    WipeCard();
    ASSERT_TRUE(module_.RunRestorePhase(packet_));
    EXPECT_EQ(card_.wifi, wifiBefore);
    EXPECT_EQ(card_.files, filesBefore);
    for (const auto& [item, data] : nvBefore) {
        if (item != 1633 && item != 1720) {
            EXPECT_EQ(card_.nv[item], data) << item;
        }
    }
    const auto run = Messages(kRun);
    EXPECT_EQ(std::vector<std::string>(run.begin() + 4, run.end()),
              (std::vector<std::string>{"Function: RestoreNVMOP", "Execute WriteWiFiAddress1 function"}));
}

TEST_F(Phases, AWifiAddressThatCannotBeReadIsNotWrittenBack) {
    card_.wifiReads = {-2, -2};
    ASSERT_TRUE(Backup());
    EXPECT_TRUE(Traced("Function: ReadWiFiAddress2"));
    EXPECT_TRUE(Traced("The phone software do not support reading wifi address command"));
    EXPECT_FALSE(module_.BackupState().wifiSaved);
    ASSERT_TRUE(module_.RunRestorePhase(packet_));
    EXPECT_EQ(card_.Count("wifi write"), 0u);

    card_.wifiReads = {-1, 0};
    ASSERT_TRUE(Backup());
    EXPECT_TRUE(Traced("backup wifi failed,make sure the wifi address be written!"));
    EXPECT_FALSE(module_.BackupState().wifiSaved);

    card_.wifiReads = {0, 1};
    ASSERT_TRUE(Backup());
    EXPECT_TRUE(module_.BackupState().wifiSaved);
}

// No answer at all is not a card without an address: the backup stops
// before anything else, and so does a card whose ESN cannot be read.
TEST_F(Phases, AWifiAddressOrEsnLeftUnansweredEndsTheBackup) {
    card_.wifiReads = {-1, -1};
    EXPECT_FALSE(Backup());
    EXPECT_TRUE(Traced("The Wi-Fi address cannot be read: the card is left as it is"));
    EXPECT_EQ(card_.Count("nvread 77"), 0u);

    card_.esnSilent = true;
    EXPECT_FALSE(Backup());
    EXPECT_TRUE(Traced("The card's ESN cannot be read: the card is left as it is"));
    EXPECT_EQ(card_.Count("wifi read"), 2u) << "only the two reads above";
}

TEST_F(Phases, AWifiWriteThatFailsTwiceIsOnlyTraced) {
    ASSERT_TRUE(Backup());
    card_.wifiWrites = {0, -1};
    ASSERT_TRUE(module_.RunRestorePhase(packet_));
    EXPECT_EQ(card_.Count("wifi write"), 2u);
    EXPECT_TRUE(Traced("Execute WriteWiFiAddress2 function"));
    EXPECT_TRUE(Traced("Execute WriteWiFiAddress2 function fail "));
}

TEST_F(Phases, WithoutTheLockFolderOnlyNvAndWifiAreSavedAndRestored) {
    card_.dirs.clear();
    card_.files.clear();
    ASSERT_TRUE(Backup());
    EXPECT_TRUE(Traced("function EnumAllAbsoluteFilePathInEfsDir fail"));
    EXPECT_FALSE(module_.BackupState().lockFilesSaved);
    EXPECT_TRUE(Exists(ChannelPath()));
    card_.log.clear();
    ASSERT_TRUE(module_.RunRestorePhase(packet_));
    EXPECT_EQ(card_.Count("efs"), 0u);
    EXPECT_EQ(card_.Count("lock"), 0u);
    EXPECT_EQ(card_.Count("wifi write"), 1u);
}

TEST_F(Phases, AFailingLockRestoreLeavesTheRunGoing) {
    ASSERT_TRUE(Backup());
    ::unlink("VEKLock_1");
    ASSERT_TRUE(module_.RunRestorePhase(packet_));
    EXPECT_TRUE(Traced("Execute RestoreLockFile function fail "));
}

TEST_F(Phases, AFailingLockOrNvBackupEndsThePhaseAndKeepsTheOlderBackup) {
    const std::vector<uint8_t> older(upgrade::nvtable::kTableSize, 0x21);
    Put(ChannelPath(), older);

    card_.fstatFails = {"vek/a"};
    EXPECT_FALSE(Backup());
    EXPECT_TRUE(Traced("function Backup Lockfile fail"));
    EXPECT_FALSE(Traced("Function: BackupNVMOP"));
    EXPECT_EQ(Slurp(ChannelPath()), older);

    card_.fstatFails.clear();
    card_.silentNvReads[4795] = 6;
    EXPECT_FALSE(Backup());
    EXPECT_TRUE(Traced("Function: BackupNVMOP"));
    EXPECT_EQ(Slurp(ChannelPath()), older);
}

TEST_F(Phases, AFailingNvRestoreFailsThePhaseBeforeAnythingElseIsWritten) {
    ASSERT_TRUE(Backup());
    ::unlink(ChannelPath().c_str());
    card_.log.clear();
    EXPECT_FALSE(module_.RunRestorePhase(packet_));
    EXPECT_TRUE(card_.log.empty());

    ASSERT_TRUE(Backup());
    card_.readOnly = {1699};   // status 7 is skipped
    ASSERT_TRUE(module_.RunRestorePhase(packet_));
    card_.silentNvWrites[1699] = 6;   // no answer twice fails
    card_.readOnly.clear();
    card_.log.clear();
    EXPECT_FALSE(module_.RunRestorePhase(packet_));
    EXPECT_EQ(card_.Count("wifi write"), 0u);
}

}  // namespace
}  // namespace backup_test

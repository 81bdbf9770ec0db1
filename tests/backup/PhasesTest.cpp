#include "tests/backup/BackupFixture.h"
#include "upgrade/backup/NvBackupTable.h"

namespace backup_test {
namespace {

constexpr const char* kRun = "CFWUpgradeDataCDMA7627Module::FirmWareUpgrade";

class Phases : public BackupTest {
protected:
    void SetUp() override {
        BackupTest::SetUp();
        FillCard();
        module_.Data().channelNvPath = ChannelPathW();
        OpenPort();
    }
    bool Backup() { return module_.Phases().RunBackupPhase(packet_, platform::Utf8ToWide(folder_), upgrade::RunPlan::Upgrade()); }
    // What the rewritten file system of the new firmware looks like: the
    // folders stay, the files are gone.
    void WipeCard() {
        for (auto& [item, nv] : Held().nv) {
            nv.data.fill(0);
        }
        Held().wifi = {};
        Held().efsFiles.clear();
    }
};

TEST_F(Phases, BackupAndRestoreGiveTheCardBackItsOwnData) {
    Held().nv[1633].inactive = true;
    Held().nv[1720].readOnly = true;
    const auto nvBefore = Held().nv;
    const auto wifiBefore = Held().wifi;
    const auto filesBefore = Held().efsFiles;

    ASSERT_TRUE(Backup());
    EXPECT_EQ(Messages(kRun), (std::vector<std::string>{"Function: CreateNVBackupDirectory", "Function: ReadWiFiAddress1",
                                                        "EnumAllAbsoluteFilePathInEfsDir", "Function: BackupNVMOP"}));
    EXPECT_TRUE(module_.Data().backup.wifiSaved);
    EXPECT_TRUE(module_.Data().backup.lockFilesSaved);
    EXPECT_EQ(Slurp(ChannelPath()).size(), 816000u);

    WipeCard();
    ASSERT_TRUE(module_.Phases().RunRestorePhase(packet_));
    EXPECT_EQ(Held().wifi, wifiBefore);
    EXPECT_EQ(Held().efsFiles, filesBefore);
    for (const auto& [item, nv] : nvBefore) {
        if (item != 1633 && item != 1720) {
            EXPECT_EQ(Held().nv[item].data, nv.data) << item;
        }
    }
    const auto run = Messages(kRun);
    EXPECT_EQ(std::vector<std::string>(run.begin() + 4, run.end()),
              (std::vector<std::string>{"Function: RestoreNVMOP", "Execute WriteWiFiAddress1 function"}));
}

TEST_F(Phases, AWifiAddressThatCannotBeReadIsNotWrittenBack) {
    Fault("wifi_unsupported:count=2");
    ASSERT_TRUE(Backup());
    EXPECT_TRUE(Traced("Function: ReadWiFiAddress2"));
    EXPECT_TRUE(Traced("The phone software do not support reading wifi address command"));
    EXPECT_FALSE(module_.Data().backup.wifiSaved);
    ASSERT_TRUE(module_.Phases().RunRestorePhase(packet_));
    EXPECT_EQ(Count("wifi write"), 0u);

    Fault("silence:command=0x4B,count=1");   // the first read of the two
    Fault("wifi_refused:count=1");
    ASSERT_TRUE(Backup());
    EXPECT_TRUE(Traced("backup wifi failed,make sure the wifi address be written!"));
    EXPECT_FALSE(module_.Data().backup.wifiSaved);

    Fault("wifi_refused:count=1");
    ASSERT_TRUE(Backup());
    EXPECT_TRUE(module_.Data().backup.wifiSaved);
}

// No answer at all is not a card without an address: the backup stops
// before anything else, and so does a card whose ESN cannot be read.
TEST_F(Phases, AWifiAddressOrEsnLeftUnansweredEndsTheBackup) {
    Fault("silence:command=0x4B,count=2");   // both reads: no EFS request comes before them
    EXPECT_FALSE(Backup());
    EXPECT_TRUE(Traced("The Wi-Fi address cannot be read: the card is left as it is"));
    EXPECT_EQ(Count("nvread 77"), 0u);

    Fault("silence:command=1,count=0");
    EXPECT_FALSE(Backup());
    EXPECT_TRUE(Traced("The card's ESN cannot be read: the card is left as it is"));
    EXPECT_EQ(Count("wifi read"), 2u) << "only the two reads above";
}

TEST_F(Phases, AWifiWriteThatFailsTwiceIsOnlyTraced) {
    ASSERT_TRUE(Backup());
    // The write comes before the lock files are written back: the second
    // request of the subsystem after these rules is the second write.
    Fault("wifi_refused:count=1");
    Fault("silence:command=0x4B,occurrence=2,count=1");
    ASSERT_TRUE(module_.Phases().RunRestorePhase(packet_));
    EXPECT_EQ(Count("wifi write"), 2u);
    EXPECT_TRUE(Traced("Execute WriteWiFiAddress2 function"));
    EXPECT_TRUE(Traced("Execute WriteWiFiAddress2 function fail "));
}

TEST_F(Phases, WithoutTheLockFolderOnlyNvAndWifiAreSavedAndRestored) {
    Held().efsDirs.clear();
    Held().efsFiles.clear();
    ASSERT_TRUE(Backup());
    EXPECT_TRUE(Traced("function EnumAllAbsoluteFilePathInEfsDir fail"));
    EXPECT_FALSE(module_.Data().backup.lockFilesSaved);
    EXPECT_TRUE(Exists(ChannelPath()));
    card_->ClearRequests();
    ASSERT_TRUE(module_.Phases().RunRestorePhase(packet_));
    EXPECT_EQ(Count("efs"), 0u);
    EXPECT_EQ(Count("lock"), 0u);
    EXPECT_EQ(Count("wifi write"), 1u);
}

TEST_F(Phases, AFailingLockRestoreLeavesTheRunGoing) {
    ASSERT_TRUE(Backup());
    Fault("efs_fail:command=0x02,path=vek/a,count=0");
    ASSERT_TRUE(module_.Phases().RunRestorePhase(packet_));
    EXPECT_TRUE(Traced("Execute RestoreLockFile function fail "));
}

// A lock backup gone since the backup: the NV items and the Wi-Fi address go
// back, no lock file does.
TEST_F(Phases, ALockBackupThatNoLongerMatchesIsNotWrittenBack) {
    ASSERT_TRUE(Backup());
    ::unlink("VEKLock_1");
    card_->ClearRequests();
    ASSERT_TRUE(module_.Phases().RunRestorePhase(packet_));
    const std::vector<std::string> messages = Messages(kRun);
    EXPECT_TRUE(std::any_of(messages.begin(), messages.end(), [](const std::string& message) {
        return message.rfind("The lock backup no longer matches its record", 0) == 0;
    }));
    EXPECT_EQ(Count("lock"), 0u);
    EXPECT_EQ(Count("wifi write"), 1u);
    for (const upgrade::RecordedLockFile& entry : module_.Keeper().Record().lockFiles)
        EXPECT_EQ(entry.restore, upgrade::RestoreResult::Failed);
}

TEST_F(Phases, AFailingLockOrNvBackupEndsThePhaseAndKeepsTheOlderBackup) {
    const std::vector<uint8_t> older(upgrade::nvtable::kTableSize, 0x21);
    Put(ChannelPath(), older);

    Fault("efs_fail:command=0x11,path=vek/a,count=0");
    EXPECT_FALSE(Backup());
    EXPECT_TRUE(Traced("function Backup Lockfile fail"));
    EXPECT_FALSE(Traced("Function: BackupNVMOP"));
    EXPECT_EQ(Slurp(ChannelPath()), older);

    card_->ClearFaults();
    Fault("silence:command=0x26,item=4795,count=6");
    EXPECT_FALSE(Backup());
    EXPECT_TRUE(Traced("Function: BackupNVMOP"));
    EXPECT_EQ(Slurp(ChannelPath()), older);
}

TEST_F(Phases, AFailingNvRestoreFailsThePhaseBeforeAnythingElseIsWritten) {
    ASSERT_TRUE(Backup());
    ::unlink(ChannelPath().c_str());
    card_->ClearRequests();
    EXPECT_FALSE(module_.Phases().RunRestorePhase(packet_));
    EXPECT_TRUE(Requests().empty());

    ASSERT_TRUE(Backup());
    Held().nv[1699].readOnly = true;   // status 7 is skipped
    ASSERT_TRUE(module_.Phases().RunRestorePhase(packet_));
    Fault("silence:command=0x27,item=1699,count=6");   // no answer twice fails
    Held().nv[1699].readOnly = false;
    card_->ClearRequests();
    EXPECT_FALSE(module_.Phases().RunRestorePhase(packet_));
    EXPECT_EQ(Count("wifi write"), 0u);
}

}  // namespace
}  // namespace backup_test

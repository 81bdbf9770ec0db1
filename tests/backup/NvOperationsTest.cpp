#include <sys/stat.h>
#include <unistd.h>

#include <fstream>

#include "tests/backup/BackupFixture.h"
#include "upgrade/backup/BackupSafeFile.h"
#include "upgrade/backup/NvBackupTable.h"

namespace backup_test {
namespace {

namespace nv = upgrade::nvtable;

using NvBackup = BackupTest;

TEST_F(NvBackup, TheTableHoldsEveryItemWithItsStatusAndInactiveItemsAsZero) {
    FillCard();
    Held().nv[1631].inactive = true;
    Held().nv[4837].inactive = true;
    Fault("nv_refuse:command=0x26,item=1943,value=6,count=0");
    OpenPort();
    ASSERT_TRUE(module_.Nv().BackupNVMOP(packet_, ChannelPathW()));

    const std::vector<uint8_t> table = Slurp(ChannelPath());
    std::vector<nv::NvRecord> records;
    ASSERT_TRUE(nv::DecodeTable(table, records));
    ASSERT_EQ(records.size(), 90u);
    for (const nv::NvRecord& record : records) {
        const bool skipped = record.item == 1631 || record.item == 4837 || record.item == 1943;
        EXPECT_EQ(record.status, record.item == 1943 ? 6 : skipped ? 5 : 0) << record.item;
        const std::array<uint8_t, 128> none{};
        EXPECT_EQ(record.data, skipped ? none : ItemBytes(record.item)) << record.item;
    }
    EXPECT_EQ(records[88].item, 836);
    EXPECT_EQ(Count("nvread"), 90u);   // skipped items are not read twice
    ASSERT_FALSE(Requests().empty());
    EXPECT_EQ(Requests().front(), "spc");
    EXPECT_EQ(clock_.Pauses().front(), 500u);
    EXPECT_EQ(module_.Data().nvStatus, 5);   // the last item was inactive
    EXPECT_FALSE(Exists(platform::WideToUtf8(upgrade::ReplacementFileName(ChannelPathW()))));
}

TEST_F(NvBackup, AFailingItemIsReadOnceMoreAndThenFailsWithoutTouchingTheOlderFile) {
    FillCard();
    const std::vector<uint8_t> older(nv::kTableSize, 0x33);
    Put(ChannelPath(), older);

    Fault("silence:command=0x26,item=447,count=3");   // one whole read without an answer, then the retry works
    OpenPort();
    ASSERT_TRUE(module_.Nv().BackupNVMOP(packet_, ChannelPathW()));
    std::vector<nv::NvRecord> records;
    ASSERT_TRUE(nv::DecodeTable(Slurp(ChannelPath()), records));
    EXPECT_EQ(records[6].item, 447);
    EXPECT_EQ(records[6].status, 0);
    EXPECT_EQ(records[6].data, ItemBytes(447));

    Put(ChannelPath(), older);
    card_->ClearRequests();
    Fault("nv_refuse:command=0x26,item=22,value=7,count=0");   // read-only is no reason to skip while saving
    ASSERT_FALSE(module_.Nv().BackupNVMOP(packet_, ChannelPathW()));
    EXPECT_EQ(Count("nvread 22"), 2u);
    EXPECT_EQ(Count("nvread 88"), 0u);
    EXPECT_EQ(module_.Data().nvStatus, 7);
    EXPECT_EQ(Slurp(ChannelPath()), older);
}

TEST_F(NvBackup, ARefusedServiceCodeReadsNothing) {
    FillCard();
    Fault("spc_refused");
    OpenPort();
    EXPECT_FALSE(module_.Nv().BackupNVMOP(packet_, ChannelPathW()));
    EXPECT_EQ(Count("nvread"), 0u);
    EXPECT_FALSE(Exists(ChannelPath()));
}

TEST_F(NvBackup, AnUnwritableFolderIsATracedFailure) {
    FillCard();
    OpenPort();
    const std::u16string missing = platform::Utf8ToWide(folder_ + "/no/such/channel.nvm");
    testing::internal::CaptureStderr();   // where a message box goes on this system
    EXPECT_FALSE(module_.Nv().BackupNVMOP(packet_, missing));
    const std::string shown = testing::internal::GetCapturedStderr();
    EXPECT_EQ(Messages("CFWUpgradeDataCDMA7627Module::BackupNVMOP").size(), 1u);
    EXPECT_NE(shown.find("no/such/channel.nvm"), std::string::npos) << shown;
}

using NvRestore = BackupTest;

TEST_F(NvRestore, WritesBackEveryItemAndSkipsInactiveAndReadOnlyOnes) {
    FillCard();
    Held().nv[1632].inactive = true;
    OpenPort();
    ASSERT_TRUE(module_.Nv().BackupNVMOP(packet_, ChannelPathW()));
    const auto before = Held().nv;

    for (auto& [item, nv] : Held().nv) {
        nv.data.fill(0xEE);   // the new firmware comes up with other values
    }
    Held().nv[77].readOnly = true;
    Held().nv[1943].readOnly = true;
    card_->ClearRequests();
    clock_.ClearPauses();
    ASSERT_TRUE(module_.Nv().RestoreNVMOP(packet_, ChannelPathW()));

    for (const auto& [item, nv] : before) {
        const bool kept = Held().nv[item].readOnly || Held().nv[item].inactive;
        EXPECT_EQ(Held().nv[item].data == nv.data, !kept) << item;
    }
    EXPECT_EQ(Count("nvwrite"), 91u);   // 453 twice, nothing retried
    ASSERT_GE(Requests().size(), 4u);
    EXPECT_EQ(Requests()[0], "offline");
    EXPECT_EQ(Requests()[1], "nvwrite 453");
    EXPECT_EQ(Requests()[2], "spc");
    EXPECT_EQ(Requests()[3], "nvwrite 77");
    EXPECT_EQ(clock_.Pauses().front(), 5000u);
    EXPECT_EQ(clock_.Pauses().back(), 5000u);
    const auto pauses = clock_.Pauses();
    EXPECT_NE(std::find(pauses.begin(), pauses.end(), 500u), pauses.end());
    EXPECT_NE(std::find(pauses.begin(), pauses.end(), 1000u), pauses.end());
}

TEST_F(NvRestore, ATableOfAnyOtherLengthSendsNothing) {
    OpenPort();
    Put(ChannelPath(), std::vector<uint8_t>(nv::kTableSize - 1, 0));
    testing::internal::CaptureStderr();
    EXPECT_FALSE(module_.Nv().RestoreNVMOP(packet_, ChannelPathW()));
    Put(ChannelPath(), std::vector<uint8_t>(nv::kTableSize + 1, 0));
    EXPECT_FALSE(module_.Nv().RestoreNVMOP(packet_, ChannelPathW()));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");   // a wrong length is refused quietly
    ::unlink(ChannelPath().c_str());
    testing::internal::CaptureStderr();
    EXPECT_FALSE(module_.Nv().RestoreNVMOP(packet_, ChannelPathW()));
    const std::string shown = testing::internal::GetCapturedStderr();
    EXPECT_NE(shown.find("channel.nvm"), std::string::npos) << shown;   // a missing file is shown
    EXPECT_TRUE(Requests().empty());
    EXPECT_EQ(Messages("CFWUpgradeDataCDMA7627Module::RestoreNVMOP").size(), 3u);
}

TEST_F(NvRestore, ATransportFailureIsRetriedOnceAndTwiceFailsTheRestore) {
    FillCard();
    OpenPort();
    ASSERT_TRUE(module_.Nv().BackupNVMOP(packet_, ChannelPathW()));

    Fault("silence:command=0x27,item=1650,count=3");
    ASSERT_TRUE(module_.Nv().RestoreNVMOP(packet_, ChannelPathW()));

    card_->ClearRequests();
    Fault("silence:command=0x27,item=1650,count=6");
    EXPECT_FALSE(module_.Nv().RestoreNVMOP(packet_, ChannelPathW()));
    EXPECT_EQ(Requests().back(), "nvwrite 1650");
    EXPECT_EQ(Count("nvwrite 1651"), 0u);
    EXPECT_EQ(module_.Data().nvStatus, 0xFFFF);
}

TEST_F(NvRestore, TheServiceCodeIsSentOnceMoreAfterTwoSeconds) {
    FillCard();
    OpenPort();
    ASSERT_TRUE(module_.Nv().BackupNVMOP(packet_, ChannelPathW()));

    Fault("spc_refused");
    clock_.ClearPauses();
    ASSERT_TRUE(module_.Nv().RestoreNVMOP(packet_, ChannelPathW()));
    const auto pauses = clock_.Pauses();
    EXPECT_NE(std::find(pauses.begin(), pauses.end(), 2000u), pauses.end());

    Fault("spc_refused:count=2");
    card_->ClearRequests();
    EXPECT_FALSE(module_.Nv().RestoreNVMOP(packet_, ChannelPathW()));
    EXPECT_EQ(Count("nvwrite"), 1u);   // only the FTM mode switch
}

TEST(NvBackupFolder, ExistingNewAndDriveRootFolders) {
    char pattern[] = "/tmp/backup_dir_XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    const std::string base = pattern;
    const std::u16string sep(1, platform::PathSeparator());

    EXPECT_TRUE(upgrade::NvBackup::CreateNVBackupDirectory(platform::Utf8ToWide(base)));
    EXPECT_TRUE(upgrade::NvBackup::CreateNVBackupDirectory(platform::Utf8ToWide(base) + sep));
    const std::u16string fresh = platform::Utf8ToWide(base + "/fresh");
    EXPECT_TRUE(upgrade::NvBackup::CreateNVBackupDirectory(fresh + sep));
    struct stat info {};
    EXPECT_EQ(::stat((base + "/fresh").c_str(), &info), 0);
    EXPECT_FALSE(upgrade::NvBackup::CreateNVBackupDirectory(platform::Utf8ToWide(base + "/x/y")));
    // A drive root exists without asking the file system (there is no "Q:" here).
    EXPECT_TRUE(upgrade::NvBackup::CreateNVBackupDirectory(u"Q:\\"));
    EXPECT_FALSE(::stat("Q:", &info) == 0);
    ::rmdir((base + "/fresh").c_str());
    ::rmdir(base.c_str());
}

// A three-character folder that is not a drive root is looked up with its
// separator, so a plain file of the same name is no backup folder.
TEST(NvBackupFolder, ShortFolderNamesKeepTheirSeparator) {
    char pattern[] = "/tmp/backup_short_XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    const std::string base = pattern;
    char previous[4096];
    ASSERT_NE(getcwd(previous, sizeof previous), nullptr);
    ASSERT_EQ(chdir(base.c_str()), 0);
    std::ofstream(base + "/ab") << "not a folder";
    const std::u16string sep(1, platform::PathSeparator());

    EXPECT_FALSE(upgrade::NvBackup::CreateNVBackupDirectory(u"ab" + sep));
    EXPECT_TRUE(upgrade::NvBackup::CreateNVBackupDirectory(u"cd" + sep));
    struct stat info {};
    EXPECT_EQ(::stat((base + "/cd").c_str(), &info), 0);
    EXPECT_TRUE(S_ISDIR(info.st_mode));
    EXPECT_TRUE(upgrade::NvBackup::CreateNVBackupDirectory(u"cd" + sep));   // now it exists

    ASSERT_EQ(chdir(previous), 0);
    ::unlink((base + "/ab").c_str());
    ::rmdir((base + "/cd").c_str());
    ::rmdir(base.c_str());
}

}  // namespace
}  // namespace backup_test

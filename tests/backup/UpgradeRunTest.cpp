// Whole upgrade runs through message 1025 of the module, with the host kit
// on one side and the virtual card on the other, on the recording clock.
#include <gtest/gtest.h>

#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tests/support/TestClocks.h"
#include "tests/support/WholeRunFixture.h"
#include "sim/frontends/InProcessPort.h"
#include "sim/frontends/PackageMaker.h"
#include "upgrade/backup/NvBackupTable.h"

namespace {

constexpr int32_t kPort = 7;

std::vector<uint8_t> Slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void Put(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

sim::FaultRule Rule(sim::FaultKind kind, int command, uint32_t occurrence, uint32_t count, int item = -1) {
    sim::FaultRule rule;
    rule.kind = kind;
    rule.command = command;
    rule.occurrence = occurrence;
    rule.count = count;
    rule.item = item;
    rule.mode = "diag";
    return rule;
}

class UpgradeRun : public test_support::WholeRunFixture {
protected:
    void SetUp() override {
        Enter(clock_, opener_);
        std::string error;
        ASSERT_TRUE(sim::MakePackage(package_, sim::PackageOptions{}, error)) << error;
    }

    std::shared_ptr<sim::Card> Plug(sim::FaultPlan faults = {}, sim::CardData data = sim::DefaultCardData()) {
        auto card = sim::MakeCard(std::move(data), sim::CardTiming{}, std::move(faults));
        opener_.Attach(kPort, card);
        return card;
    }

    int32_t Run() { return session_->RunUpgrade(kPort, platform::Utf8ToWide(package_)).result; }
    bool Logged(const std::u16string& message) { return session_->Log().HasMessage(message); }
    std::string ChannelPath() const { return package_ + "/channel.nvm"; }

    platform::RecordingClock clock_;
    sim::InProcessPortOpener opener_;
    const std::string package_ = work_ / "package";
};

TEST_F(UpgradeRun, AQ7kRunLeavesTheCardWithItsOwnNvItemsWifiAddressAndLockFiles) {
    auto card = Plug();
    sim::CardData before = card->Data();
    before.nv.at(96).data.fill(0);   // a Q7k card gets item 96 cleared before the backup
    ASSERT_EQ(Run(), 0);
    ASSERT_TRUE(card->RunningNewFirmware());   // cefs was rewritten and the card wiped

    const sim::CardData& after = card->Data();
    EXPECT_EQ(after.wifi, before.wifi);
    EXPECT_EQ(after.efsFiles, before.efsFiles);
    for (const auto& [item, nv] : before.nv) {
        if (!nv.inactive) {   // an inactive item cannot be read, saved or written
            EXPECT_EQ(after.nv.at(item).data, nv.data) << "NV item " << item;
        }
    }
    EXPECT_FALSE(card->LockAccessEnabled());
    EXPECT_TRUE(card->Violations().empty());

    std::vector<upgrade::nvtable::NvRecord> records;
    const std::vector<uint8_t> table = Slurp(ChannelPath());
    ASSERT_EQ(table.size(), 816000u);
    ASSERT_TRUE(upgrade::nvtable::DecodeTable(table, records));
    ASSERT_EQ(records.size(), 90u);
    EXPECT_EQ(records[88].item, 836);
    EXPECT_EQ(table[90 * 136] | table[90 * 136 + 1] << 8, 6000);
    for (const auto& record : records) {
        const bool inactive = before.nv.at(record.item).inactive;
        EXPECT_EQ(record.status, inactive ? 5 : 0) << record.item;
        const std::array<uint8_t, 128> none{};
        EXPECT_EQ(record.data, inactive ? none : before.nv.at(record.item).data) << record.item;
    }
    EXPECT_EQ(Slurp("VEKLock_1").size(), 3100u);
}

TEST_F(UpgradeRun, AWifiAddressTheCardCannotGiveIsNeitherSavedNorWritten) {
    sim::FaultPlan faults;
    faults.rules.push_back(Rule(sim::FaultKind::WifiUnsupported, 0x4B, 1, 2));
    auto card = Plug(faults);
    ASSERT_EQ(Run(), 0);
    EXPECT_TRUE(Logged(u"Function: ReadWiFiAddress2"));
    EXPECT_TRUE(Logged(u"The phone software do not support reading wifi address command"));
    EXPECT_FALSE(Logged(u"Execute WriteWiFiAddress1 function"));
    EXPECT_EQ(card->Data().wifi, (std::array<uint8_t, 6>{}));

    session_->Log().Clear();
    sim::FaultPlan refused;
    refused.rules.push_back(Rule(sim::FaultKind::WifiRefused, 0x4B, 1, 2));
    Plug(refused);
    ASSERT_EQ(Run(), 0);
    EXPECT_TRUE(Logged(u"backup wifi failed,make sure the wifi address be written!"));
    EXPECT_FALSE(Logged(u"Execute WriteWiFiAddress1 function"));
}

TEST_F(UpgradeRun, WithoutLockFoldersNvItemsAndWifiAreStillRestored) {
    sim::CardData data = sim::DefaultCardData();
    data.efsDirs.clear();
    data.efsFiles.clear();
    auto card = Plug({}, data);
    ASSERT_EQ(Run(), 0);
    EXPECT_TRUE(Logged(u"function EnumAllAbsoluteFilePathInEfsDir fail"));
    EXPECT_FALSE(Logged(u"RestoreLockFile"));
    EXPECT_EQ(card->Data().wifi, data.wifi);
    EXPECT_EQ(card->Data().nv.at(1631).data, data.nv.at(1631).data);
}

TEST_F(UpgradeRun, AFailingLockRestoreIsOnlyTraced) {
    sim::FaultPlan faults;
    faults.rules.push_back(Rule(sim::FaultKind::EfsFail, 0x0005, 1, 0));   // every EFS write
    auto card = Plug(faults);
    ASSERT_EQ(Run(), 0);
    EXPECT_TRUE(Logged(u"Execute RestoreLockFile function fail "));
    EXPECT_EQ(card->Data().wifi, sim::DefaultCardData().wifi);
}

TEST_F(UpgradeRun, AFailingNvBackupEndsTheRunBeforeDownloadModeAndKeepsTheOlderBackup) {
    const std::vector<uint8_t> older(upgrade::nvtable::kTableSize, 0x6B);
    Put(ChannelPath(), older);
    sim::FaultPlan faults;
    faults.rules.push_back(Rule(sim::FaultKind::NvRefuse, 0x26, 1, 0, 1650));   // status 4 on every read
    auto card = Plug(faults);
    EXPECT_EQ(Run(), -13314);
    EXPECT_EQ(card->ModeChanges(), 0u);
    EXPECT_EQ(Slurp(ChannelPath()), older);
    EXPECT_TRUE(Logged(u"Function: BackupNVMOP"));
    EXPECT_FALSE(Logged(u"Function: SwitchToDownload"));
}

TEST_F(UpgradeRun, ALockFileOfUnknownLengthEndsTheRunBeforeDownloadMode) {
    sim::FaultPlan faults;
    faults.rules.push_back(Rule(sim::FaultKind::EfsFail, 0x0011, 2, 1));   // fstat of vek/state/empty
    auto card = Plug(faults);
    EXPECT_EQ(Run(), -13314);
    EXPECT_TRUE(Logged(u"function Backup Lockfile fail"));
    EXPECT_FALSE(Logged(u"Function: BackupNVMOP"));
    EXPECT_EQ(card->ModeChanges(), 0u);
    EXPECT_EQ(card->Data().efsFiles, sim::DefaultCardData().efsFiles);
}

TEST_F(UpgradeRun, ARestoreThatLosesAnItemWriteTwiceFailsTheRun) {
    // Find which NV write request of a clean run is the restore's first write
    // of item 77 (the list's first item).
    uint32_t writes = 0;
    uint32_t firstItem77 = 0;
    auto probe = Plug();
    probe->SetTranscript([&](const std::string& line) {
        const size_t at = line.find(" < 27");
        if (at == std::string::npos) return;
        ++writes;
        if (firstItem77 == 0 && line.compare(at + 3, 6, "274d00") == 0) firstItem77 = writes;
    });
    ASSERT_EQ(Run(), 0);
    ASSERT_GT(firstItem77, 0u);

    // That request and the five after it find no answer: both writes of the
    // item (three attempts each) fail.
    session_->Log().Clear();
    sim::FaultPlan faults;
    faults.rules.push_back(Rule(sim::FaultKind::Silence, 0x27, firstItem77, 6));
    auto card = Plug(faults);
    EXPECT_EQ(Run(), -13314);
    EXPECT_TRUE(Logged(u"Function: RestoreNVMOP"));
    EXPECT_FALSE(Logged(u"Execute WriteWiFiAddress1 function"));
    EXPECT_NE(card->Data().nv.at(77).data, sim::DefaultCardData().nv.at(77).data);

    // One lost write is retried and the run completes.
    sim::FaultPlan once;
    once.rules.push_back(Rule(sim::FaultKind::Silence, 0x27, firstItem77, 3));
    card = Plug(once);
    EXPECT_EQ(Run(), 0);
    EXPECT_EQ(card->Data().nv.at(77).data, sim::DefaultCardData().nv.at(77).data);
}

// The child runs the whole upgrade under a file-size limit of half the NV
// table: the limit kills it in the middle of writing "channel.nvm".
TEST_F(UpgradeRun, ARunKilledWhileWritingTheNvBackupLeavesTheOlderOneWhole) {
    const std::vector<uint8_t> older(upgrade::nvtable::kTableSize, 0x3C);
    Put(ChannelPath(), older);
    Plug();
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        signal(SIGXFSZ, SIG_DFL);
        struct rlimit limit {};
        limit.rlim_cur = limit.rlim_max = 400000;
        setrlimit(RLIMIT_FSIZE, &limit);
        Run();
        _exit(0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status));
    EXPECT_EQ(WTERMSIG(status), SIGXFSZ);
    EXPECT_EQ(Slurp(ChannelPath()), older);
}

}  // namespace

// Runs that fail after the card was wiped, followed by the retry a user
// makes: whole runs through message 1025 against the virtual card on the
// recording clock. The retry must give the card back the data it had
// before the first run, whatever the wiped card holds by then.
#include <gtest/gtest.h>

#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "host/kit/HostKit.h"
#include "module/Application.h"
#include "module/UpgradeModuleObject.h"
#include "platform/TestClocks.h"
#include "sim/InProcessPort.h"
#include "sim/PackageMaker.h"
#include "upgrade/BackupStore.h"

namespace {

namespace fs = std::filesystem;
constexpr int32_t kPort = 7;
constexpr uint32_t kOtherEsn = 0x11223344;

enum class CardKind { Q7k, NeedsOverride };

std::string KindName(const ::testing::TestParamInfo<CardKind>& info) {
    return info.param == CardKind::Q7k ? "Q7k" : "NotQ7kWithOverride";
}

sim::FaultPlan Faults(std::initializer_list<const char*> rules) {
    sim::FaultPlan plan;
    for (const char* rule : rules) plan.rules.push_back(sim::ParseFaultOption(rule));
    return plan;
}

class RetryRun : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        session_ = new hostkit::HostSession();
        ASSERT_TRUE(session_->StartManager());
        module::InitialiseLibrary();
        session_->UseLinkedModule(&GetModule);
    }

    void SetUp() override {
        previous_ = fs::current_path();
        work_ = fs::temp_directory_path() / ("retry_run_" + std::to_string(getpid()) + "_" + std::to_string(counter_++));
        fs::remove_all(work_);
        fs::create_directories(work_);
        fs::current_path(work_);   // the lock backup file lands here
        ASSERT_EQ(setenv("XDG_DATA_HOME", (work_ / "data").c_str(), 1), 0);
        platform::SetClock(&clock_);
        platform::SetComPortOpener(&opener_);
        session_->Log().Clear();
    }
    void TearDown() override {
        platform::SetComPortOpener(nullptr);
        platform::SetClock(nullptr);
        fs::current_path(previous_);
        fs::remove_all(work_);
    }

    // A Q7k card on a package of its own layout, or an ordinary card on a
    // package whose partition table the card must be told to override.
    void Prepare(CardKind kind) {
        sim::PackageOptions options;
        original_ = sim::DefaultCardData();
        if (kind == CardKind::NeedsOverride) {
            options.newPartitionLayout = true;
            options.version = "LUM_W326V1.0.0B06";
            original_.version = "LUM_W326V1.0.0B05";
        }
        std::string error;
        ASSERT_TRUE(sim::MakePackage(Package(), options, error)) << error;
        expected_ = original_;
        // A Q7k card gets item 96 cleared before its backup: that is its data from then on.
        if (kind == CardKind::Q7k) expected_.nv.at(96).data.fill(0);
    }

    std::string Package() const { return (work_ / "package").string(); }
    std::u16string RecordPath() const { return platform::Utf8ToWide(Package() + "/backup-record.txt"); }

    std::shared_ptr<sim::Card> Plug(sim::CardData data, sim::FaultPlan faults = {}) {
        card_ = sim::MakeCard(std::move(data), sim::CardTiming{}, std::move(faults));
        opener_.Attach(kPort, card_);
        return card_;
    }
    // The same card taken out and plugged in again: what it holds stays.
    void Replug() { Plug(card_->Data()); }

    int32_t Run() {
        session_->Log().Clear();
        return session_->RunUpgrade(kPort, platform::Utf8ToWide(Package())).result;
    }
    bool Logged(const std::string& part) const {
        for (const std::u16string& m : session_->Log().Messages())
            if (platform::WideToUtf8(m).find(part) != std::string::npos) return true;
        return false;
    }

    upgrade::BackupRecord Record() const {
        upgrade::BackupRecord record;
        std::string error;
        EXPECT_EQ(upgrade::ReadBackupRecord(RecordPath(), record, error), upgrade::RecordRead::Read) << error;
        return record;
    }

    // The card holds the NV items, Wi-Fi address and lock files it had
    // before the first run.
    void ExpectOriginalData() const {
        const sim::CardData& now = card_->Data();
        EXPECT_EQ(now.wifi, expected_.wifi);
        EXPECT_EQ(now.efsFiles, expected_.efsFiles);
        for (const auto& [item, nv] : expected_.nv) {
            if (!nv.inactive) {
                EXPECT_EQ(now.nv.at(item).data, nv.data) << "NV item " << item;
            }
        }
        EXPECT_FALSE(card_->LockAccessEnabled());
    }

    // The retry ends with 0, names the backup it restores from, gives the
    // card its data back and leaves nothing pending.
    void RetryRestoresTheOriginalData() {
        ASSERT_EQ(Run(), 0);
        EXPECT_TRUE(Logged("that an earlier run left pending")) << "the retry names the backup it restores from";
        EXPECT_TRUE(card_->RunningNewFirmware()) << "the retry wrote cefs and reset the card";
        const sim::FlashCheck check = sim::CheckFlashAgainstPackage(card_->Data(), Package(), true);
        EXPECT_TRUE(check.ok) << ::testing::PrintToString(check.problems);
        ExpectOriginalData();
        const upgrade::BackupRecord record = Record();
        EXPECT_FALSE(record.RestorePending());
        EXPECT_TRUE(record.restored);
        EXPECT_EQ(record.nvRestore, upgrade::RestoreResult::Done);
        EXPECT_EQ(record.wifiRestore, upgrade::RestoreResult::Done);
        for (const upgrade::RecordedLockFile& entry : record.lockFiles)
            EXPECT_EQ(entry.restore, upgrade::RestoreResult::Done) << platform::WideToUtf8(entry.path);
        ExpectKeptReadWhilePending(record.time);
    }

    // What the retry read from the wiped card is kept apart, marked.
    void ExpectKeptReadWhilePending(const std::string& pendingTime) const {
        int marked = 0;
        for (const upgrade::KeptBackup& kept : upgrade::ListKeptBackups(original_.esn))
            marked += kept.record.readWhilePending == pendingTime;
        EXPECT_EQ(marked, 1);
    }

    static hostkit::HostSession* session_;
    static int counter_;
    fs::path work_;
    fs::path previous_;
    platform::RecordingClock clock_;
    sim::InProcessPortOpener opener_;
    std::shared_ptr<sim::Card> card_;
    sim::CardData original_;
    sim::CardData expected_;
};

hostkit::HostSession* RetryRun::session_ = nullptr;
int RetryRun::counter_ = 0;

class RetryAfterTheWipe : public RetryRun, public ::testing::WithParamInterface<CardKind> {};

TEST_P(RetryAfterTheWipe, TheNewFirmwareRefusesTheNvRestore) {
    Prepare(GetParam());
    // Every write of item 77 is refused: it comes only in the restore.
    Plug(original_, Faults({"nv_refuse:item=77,command=0x27,count=0"}));
    ASSERT_EQ(Run(), -13314);
    EXPECT_TRUE(card_->RunningNewFirmware());
    const upgrade::BackupRecord failed = Record();
    EXPECT_TRUE(failed.RestorePending());
    EXPECT_EQ(failed.nvRestore, upgrade::RestoreResult::Failed);
    ASSERT_FALSE(failed.nvNotRestored.empty());
    EXPECT_EQ(failed.nvNotRestored.front(), (upgrade::NvItemNotRestored{77, 4}));
    EXPECT_EQ(failed.nvNotRestored.back().status, upgrade::kNotAttempted);

    Replug();
    RetryRestoresTheOriginalData();
}

TEST_P(RetryAfterTheWipe, TheCardDoesNotComeBackAfterTheReset) {
    Prepare(GetParam());
    Plug(original_, Faults({"answer_once_after_reset"}));
    ASSERT_EQ(Run(), -13314);
    const upgrade::BackupRecord failed = Record();
    EXPECT_TRUE(failed.RestorePending());
    EXPECT_TRUE(failed.leftFirmware);
    EXPECT_TRUE(failed.cefsWriting);
    EXPECT_EQ(failed.fullDownload,
              GetParam() == CardKind::Q7k ? upgrade::FullDownloadReason::Q7k : upgrade::FullDownloadReason::Override);
    EXPECT_EQ(failed.nvRestore, upgrade::RestoreResult::NotRun);

    Replug();
    RetryRestoresTheOriginalData();
}

// The run goes on in a child process that kills itself in the middle of the
// NV restore; the card, which outlives the host, is handed back as it was.
TEST_P(RetryAfterTheWipe, TheHostDiesDuringTheRestore) {
    Prepare(GetParam());
    const std::string cardState = (work_ / "card-at-the-kill.json").string();
    Plug(original_);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        bool flashed = false;
        card_->SetTranscript([&](const std::string& line) {
            if (line.find(" programmer ") != std::string::npos) flashed = true;
            // The restore's write of item 1631 (0x065F), after a dozen items went back.
            if (flashed && line.find(" diag < 275f06") != std::string::npos) {
                std::ofstream(cardState) << sim::CardDataToJson(card_->Data()).dump();
                raise(SIGKILL);
            }
        });
        Run();
        _exit(0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << "the child reached the restore";
    EXPECT_TRUE(Record().RestorePending());

    std::ifstream in(cardState);
    Plug(sim::CardDataFromJson(nlohmann::json::parse(in)));
    EXPECT_NE(card_->Data().nv.at(1631).data, expected_.nv.at(1631).data) << "the card was wiped";
    RetryRestoresTheOriginalData();
}

INSTANTIATE_TEST_SUITE_P(BothKindsOfCard, RetryAfterTheWipe, ::testing::Values(CardKind::Q7k, CardKind::NeedsOverride),
                         KindName);

TEST_F(RetryRun, APendingBackupOfAnotherCardIsKeptButNotUsed) {
    Prepare(CardKind::Q7k);
    Plug(original_, Faults({"answer_once_after_reset"}));
    ASSERT_EQ(Run(), -13314);
    const upgrade::BackupRecord pending = Record();

    sim::CardData other = sim::DefaultCardData();
    other.esn = kOtherEsn;
    Plug(other);
    ASSERT_EQ(Run(), 0);
    EXPECT_TRUE(Logged("it belongs to the card with ESN 8012A5C3, this card has ESN 11223344"));
    EXPECT_FALSE(Logged("that an earlier run left pending"));
    EXPECT_EQ(Record().esn, kOtherEsn);

    // The first card's data is still kept, whole.
    const std::vector<upgrade::KeptBackup> kept = upgrade::ListKeptBackups(original_.esn);
    ASSERT_EQ(kept.size(), 1u);
    EXPECT_TRUE(kept[0].record.SameDataAs(pending));
    std::string error;
    EXPECT_TRUE(upgrade::BackupFilesMatch(kept[0].record, error)) << error;
}

TEST_F(RetryRun, ABackupThatNoLongerMatchesItsDigestIsNotRestoredFrom) {
    Prepare(CardKind::Q7k);
    Plug(original_, Faults({"answer_once_after_reset"}));
    ASSERT_EQ(Run(), -13314);
    {
        std::fstream nv(Package() + "/channel.nvm", std::ios::in | std::ios::out | std::ios::binary);
        nv.seekp(4 + 10);
        nv.put('\x5A');
    }
    Replug();
    ASSERT_EQ(Run(), 0);
    EXPECT_TRUE(Logged("channel.nvm is missing or does not match its digest"));
    EXPECT_FALSE(Logged("that an earlier run left pending"));

    // The untouched copy of the card's data is still kept.
    const std::vector<upgrade::KeptBackup> kept = upgrade::ListKeptBackups(original_.esn);
    ASSERT_GE(kept.size(), 1u);
    std::string error;
    EXPECT_TRUE(upgrade::BackupFilesMatch(kept.front().record, error)) << error;
    EXPECT_EQ(kept.front().record.wifi, original_.wifi);
}

TEST_F(RetryRun, ACleanRunKeepsOneBackupAndAnIdenticalOneIsNotStoredTwice) {
    Prepare(CardKind::Q7k);
    Plug(original_);
    ASSERT_EQ(Run(), 0);
    const upgrade::BackupRecord record = Record();
    EXPECT_EQ(record.esn, original_.esn);
    EXPECT_EQ(record.version, original_.version);
    EXPECT_TRUE(record.wifiSaved);
    EXPECT_EQ(record.wifi, original_.wifi);
    EXPECT_TRUE(record.restored);
    EXPECT_FALSE(record.RestorePending());
    ASSERT_EQ(record.lockFiles.size(), original_.efsFiles.size());
    EXPECT_EQ(record.lockFile, platform::Utf8ToWide((work_ / "VEKLock_1").string()));

    ASSERT_EQ(Run(), 0);
    const std::vector<upgrade::KeptBackup> kept = upgrade::ListKeptBackups(original_.esn);
    ASSERT_EQ(kept.size(), 1u);
    std::string error;
    EXPECT_TRUE(upgrade::BackupFilesMatch(kept[0].record, error)) << error;
    EXPECT_TRUE(kept[0].record.SameDataAs(record));
}

}  // namespace

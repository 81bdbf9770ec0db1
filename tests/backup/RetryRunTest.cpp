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

#include "tests/backup/CardRunFixture.h"

namespace {

using namespace backup_test;
namespace fs = std::filesystem;

using RetryRun = CardRunFixture;

class RetryAfterTheWipe : public CardRunFixture, public ::testing::WithParamInterface<CardKind> {};

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
    const std::string cardState = work_ / "card-at-the-kill.json";
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

// The first bytes of a request the card received ("<mode> < <hex>"), without
// leading flags; empty for other transcript lines.
std::string RequestHex(const std::string& line, const std::string& mode) {
    const size_t at = line.find(" " + mode + " < ");
    if (at == std::string::npos) return {};
    std::string hex = line.substr(at + mode.size() + 4);
    while (hex.rfind("7e", 0) == 0) hex.erase(0, 2);
    return hex;
}

// What the record on disk says at the moment the card receives a request.
TEST_P(RetryAfterTheWipe, TheRecordSaysEachStepBeforeTheCardSeesIt) {
    Prepare(GetParam());
    Plug(original_);
    std::vector<upgrade::BackupRecord> atSwitch, atCefs;
    card_->SetTranscript([&](const std::string& line) {
        upgrade::BackupRecord record;
        std::string error;
        const bool read = upgrade::ReadBackupRecord(RecordPath(), record, error) == upgrade::RecordRead::Read;
        if (RequestHex(line, "diag").rfind("3a", 0) == 0) atSwitch.push_back(read ? record : upgrade::BackupRecord{});
        if (RequestHex(line, "programmer").rfind("1b09", 0) == 0) atCefs.push_back(read ? record : upgrade::BackupRecord{});
    });
    ASSERT_EQ(Run(), 0);
    card_->SetTranscript({});

    ASSERT_FALSE(atSwitch.empty()) << "the switch to the boot downloader was seen";
    EXPECT_TRUE(atSwitch.front().leftFirmware);
    EXPECT_EQ(atSwitch.front().esn, original_.esn);
    ASSERT_EQ(atCefs.size(), 1u) << "cefs.mbn was opened once";
    EXPECT_TRUE(atCefs.front().cefsWriting);
    EXPECT_TRUE(atCefs.front().RestorePending());
    EXPECT_EQ(atCefs.front().fullDownload,
              GetParam() == CardKind::Q7k ? upgrade::FullDownloadReason::Q7k : upgrade::FullDownloadReason::Override);
    EXPECT_FALSE(Record().RestorePending());
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
    EXPECT_EQ(record.lockFile, platform::Utf8ToWide(work_ / "VEKLock_1"));

    ASSERT_EQ(Run(), 0);
    const std::vector<upgrade::KeptBackup> kept = upgrade::ListKeptBackups(original_.esn);
    ASSERT_EQ(kept.size(), 1u);
    std::string error;
    EXPECT_TRUE(upgrade::BackupFilesMatch(kept[0].record, error)) << error;
    EXPECT_TRUE(kept[0].record.SameDataAs(record));
}

}  // namespace

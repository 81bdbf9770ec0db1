// Backups that are not whole: a torn record, a zero-length channel.nvm, files
// that do not match the digests of their record. Each is refused with a
// trace line that says why, and nothing of it reaches the card.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "tests/backup/CardRunFixture.h"
#include "upgrade/run/UpgradeModule.h"
#include "upgrade/backup/Sha256.h"

namespace {

using namespace backup_test;
namespace fs = std::filesystem;

std::string Slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The first half of a record, cut inside a line.
void TearRecord(const std::string& path) {
    std::string text = Slurp(path);
    text.resize(text.size() / 2);
    while (!text.empty() && text.back() == '\n') text.pop_back();
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

class BadBackup : public CardRunFixture {
protected:
    // A backup of the card kept by `fwupgrade backup`'s operation.
    std::string KeepOne() {
        Prepare(CardKind::Q7k);
        expected_ = original_;
        Plug(original_);
        EXPECT_TRUE(module_.BackupCard(kPort, platform::Utf8ToWide(work_ / "staging")));
        return platform::WideToUtf8(module_.Keeper().KeptBackup());
    }
    // The record rewritten so that its NV digest is that of an empty file.
    static void EmptyTheNvTable(const std::string& recordPath) {
        upgrade::BackupRecord record;
        std::string error;
        ASSERT_EQ(upgrade::ReadBackupRecord(platform::Utf8ToWide(recordPath), record, error), upgrade::RecordRead::Read);
        fs::resize_file(platform::WideToUtf8(record.nvFile), 0);
        record.nvSha256 = upgrade::Sha256Hex({});
        ASSERT_TRUE(upgrade::WriteBackupRecord(platform::Utf8ToWide(recordPath), record, error)) << error;
    }
    bool TheCardWasWritten() const {
        const std::vector<std::string>& requests = card_->Requests();
        return std::any_of(requests.begin(), requests.end(), [](const std::string& request) {
            return request.rfind("nvwrite", 0) == 0 || request.rfind("efswrite", 0) == 0 || request == "wifi write";
        });
    }
    // Refused with the reason, before the card hears anything.
    void ExpectRestoreRefused(const std::string& kept, const std::string& reason) {
        card_->ClearRequests();
        session_->Log().Clear();
        EXPECT_FALSE(module_.RestoreCard(kPort, platform::Utf8ToWide(kept), false));
        EXPECT_TRUE(Logged("cannot be restored: ")) << "the trace names the backup";
        EXPECT_TRUE(Logged(reason)) << reason;
        EXPECT_FALSE(TheCardWasWritten());
        ExpectOriginalData();
    }

    upgrade::UpgradeModule module_;
};

TEST_F(BadBackup, ATornKeptRecordIsRefusedAndNotListed) {
    const std::string kept = KeepOne();
    TearRecord(kept + "/backup-record.txt");
    ExpectRestoreRefused(kept, "the record is cut off");
    EXPECT_TRUE(upgrade::ListKeptBackups(original_.esn).empty());
}

TEST_F(BadBackup, AZeroLengthNvTableIsRefusedEvenUnderItsOwnDigest) {
    const std::string kept = KeepOne();
    EmptyTheNvTable(kept + "/backup-record.txt");
    ExpectRestoreRefused(kept, "channel.nvm holds 0 bytes, not the 816000 of an NV table");
}

TEST_F(BadBackup, FilesThatDoNotMatchTheDigestsOfTheirRecordAreRefused) {
    const std::string kept = KeepOne();
    {
        std::fstream lock(kept + "/VEKLock_1", std::ios::in | std::ios::out | std::ios::binary);
        lock.seekp(3);
        lock.put('\x5A');
    }
    ExpectRestoreRefused(kept, "VEKLock_1 is missing or does not match its digest");
    const std::string lock = Slurp(kept + "/VEKLock_1");
    {
        std::ofstream(kept + "/VEKLock_1", std::ios::binary | std::ios::trunc) << lock.substr(0, lock.size() - 1);
    }
    // The same bytes less one, under a digest made to match: the list no longer adds up.
    upgrade::BackupRecord record;
    std::string error;
    ASSERT_EQ(upgrade::ReadBackupRecord(platform::Utf8ToWide(kept + "/backup-record.txt"), record, error),
              upgrade::RecordRead::Read);
    record.lockSha256 = upgrade::Sha256Hex({reinterpret_cast<const uint8_t*>(lock.data()), lock.size() - 1});
    ASSERT_TRUE(upgrade::WriteBackupRecord(platform::Utf8ToWide(kept + "/backup-record.txt"), record, error));
    ExpectRestoreRefused(kept, "of the lock files its record lists");
}

// A retry on a wiped card whose pending backup is not whole does not restore
// from it; the card's data stays in the kept backup for `fwupgrade restore`.
TEST_F(BadBackup, APendingBackupThatIsNotWholeIsNeverRestoredFrom) {
    for (const bool torn : {true, false}) {
        Prepare(CardKind::Q7k);
        Plug(original_, Faults({"answer_once_after_reset"}));
        ASSERT_EQ(Run(), -13314);
        ASSERT_TRUE(Record().RestorePending());
        if (torn) {
            TearRecord(Package() + "/backup-record.txt");
        } else {
            EmptyTheNvTable(Package() + "/backup-record.txt");
        }
        Replug();
        (void)Run();   // the wiped card is backed up and flashed as a card with nothing pending
        EXPECT_TRUE(Logged(torn ? "is refused: the record is cut off" : "is not used: ")) << torn;
        if (!torn) {
            EXPECT_TRUE(Logged("channel.nvm holds 0 bytes"));
        }
        EXPECT_FALSE(Logged("that an earlier run left pending")) << torn;

        std::string error;
        bool held = false;
        for (const upgrade::KeptBackup& kept : upgrade::ListKeptBackups(original_.esn))
            held = held || (kept.record.wifi == original_.wifi && upgrade::BackupFilesMatch(kept.record, error));
        EXPECT_TRUE(held) << "a kept backup still holds the card's data";
        fs::remove_all(work_ / "data");
    }
}

// The backup beside the package changes while the card is being flashed:
// the restore checks it again, writes nothing of it, and the kept copy
// still gives the card its data back.
TEST_F(BadBackup, ABackupThatChangesDuringTheFlashIsNotWrittenBack) {
    Prepare(CardKind::Q7k);
    Plug(original_);
    bool changed = false;
    card_->SetTranscript([&](const std::string& line) {
        if (changed || line.find(" programmer ") == std::string::npos) return;
        std::fstream nv(Package() + "/channel.nvm", std::ios::in | std::ios::out | std::ios::binary);
        nv.seekp(4 + 10);
        nv.put('\x5A');
        changed = true;
    });
    EXPECT_EQ(Run(), -13314);
    card_->SetTranscript({});
    ASSERT_TRUE(changed);
    EXPECT_TRUE(Logged("The backup no longer matches its record"));
    EXPECT_TRUE(Record().RestorePending());
    EXPECT_EQ(Record().nvRestore, upgrade::RestoreResult::Failed);

    const std::vector<upgrade::KeptBackup> kept = upgrade::ListKeptBackups(original_.esn);
    ASSERT_EQ(kept.size(), 1u);
    upgrade::UpgradeModule module;
    ASSERT_TRUE(module.RestoreCard(kPort, kept[0].folder, false));
    ExpectOriginalData();
}

}  // namespace

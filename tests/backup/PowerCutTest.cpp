// The power goes at each file operation that carries the card's data: the
// backup phase, every rewrite of the record and the copy into the kept
// backups. The disk then holds what was durable, with the writes not yet
// flushed dropped, kept or torn, and the entries not yet synced undone or
// kept. Whatever it holds must be each file's old or new content, every
// backup listed as kept must be whole, one reported as kept must still be
// there, and the retry or rescue the user makes next must give the card its
// data back.
#include <gtest/gtest.h>

#include <iostream>
#include <set>
#include <sstream>

#include "tests/backup/RecoveryFixture.h"
#include "tests/support/PowerCutFileSystem.h"

namespace {

using namespace backup_test;
using test_support::CutOutcome;
using test_support::DiskImage;
using test_support::FileOperation;

// The package's images are only read; every other operation touches the
// card's data (the package folder itself, channel.nvm, the record, the lock
// backup, the per-user data folder).
bool CarriesCardData(const FileOperation& operation) {
    const std::string prefix = "package/";
    if (operation.path.rfind(prefix, 0) != 0) return true;
    const std::string name = operation.path.substr(prefix.size());
    return name.rfind("channel.nvm", 0) == 0 || name.rfind("backup-record.txt", 0) == 0;
}

std::string Fingerprint(const DiskImage& image, const std::string& cardState) {
    std::ostringstream out;
    for (const std::string& folder : image.folders) out << folder << "/\n";
    for (const auto& [path, bytes] : image.files)
        out << path << ' ' << std::hash<std::string>()(std::string(bytes.begin(), bytes.end())) << '\n';
    out << cardState;
    return out.str();
}

class PowerCut : public RecoveryFixture, public ::testing::WithParamInterface<CardKind> {
protected:
    struct Cut {
        std::string cardState;       // the card when the power went
        std::u16string reportedKept; // the backup the run reported as kept
    };

    void SetUp() override {
        RecoveryFixture::SetUp();
        Prepare(GetParam());
        disk_ = std::make_unique<test_support::PowerCutFileSystem>(work_.path());
        platform::SetFileSystem(disk_.get());
        start_ = disk_->Visible();
    }
    void TearDown() override {
        platform::SetFileSystem(nullptr);
        RecoveryFixture::TearDown();
    }

    // A whole run on a fresh card and disk; the operations on the card's data.
    std::vector<FileOperation> CountingRun() {
        disk_->Load(start_);
        Plug(original_);
        EXPECT_EQ(upgrade::UpgradeModule().FirmWareUpgrade(kPort, platform::Utf8ToWide(Package())), 0);
        std::vector<FileOperation> points;
        for (const FileOperation& operation : disk_->Operations())
            if (CarriesCardData(operation)) points.push_back(operation);
        NoteOwnData();
        return points;
    }

    Cut CutRun(uint64_t operation) {
        disk_->Load(start_);
        Plug(original_);
        Cut cut;
        disk_->CutAt(operation, [&] { cut.cardState = CardState(); });
        upgrade::UpgradeModule module;
        (void)module.FirmWareUpgrade(kPort, platform::Utf8ToWide(Package()));   // it fails: the power went
        cut.reportedKept = module.Keeper().KeptBackup();
        return cut;
    }

    // What the disk holds after the cut, before any run reads it.
    std::vector<std::string> DiskProblems(const Cut& cut, const DiskImage& image) {
        std::vector<std::string> problems;
        disk_->Load(image);
        std::string error;
        for (const upgrade::KeptBackup& kept : upgrade::ListAllKeptBackups())
            if (!upgrade::BackupFilesMatch(kept.record, error))
                problems.push_back("the kept backup " + platform::WideToUtf8(kept.folder) + " is not whole: " + error);
        if (!cut.reportedKept.empty()) {
            upgrade::BackupRecord record;
            const std::u16string path = upgrade::JoinPath(cut.reportedKept, upgrade::kBackupRecordName);
            if (upgrade::ReadBackupRecord(path, record, error) != upgrade::RecordRead::Read ||
                !upgrade::BackupFilesMatch(record, error))
                problems.push_back("the backup reported as kept in " + platform::WideToUtf8(cut.reportedKept) +
                                   " is not there whole: " + error);
        }
        return problems;
    }

    std::vector<std::string> NextRunProblems(const Cut& cut) {
        ResumeCard(cut.cardState);
        const bool newFirmwareAtTheCut = card_->RunningNewFirmware();
        std::string how;
        const int32_t result = NextRun(how);
        std::vector<std::string> problems = RecoveryProblems(newFirmwareAtTheCut);
        if (result != 0) problems.insert(problems.begin(), "the " + how + " ended with " + std::to_string(result));
        return problems;
    }

    std::unique_ptr<test_support::PowerCutFileSystem> disk_;
    DiskImage start_;
};

TEST_P(PowerCut, AtEveryOperationOnTheCardsDataTheDiskHoldsOldOrNewAndTheNextRunRestores) {
    const std::vector<FileOperation> points = CountingRun();
    ASSERT_TRUE(KeptBackupHoldsTheData());
    std::map<std::string, int> kinds;
    for (const FileOperation& point : points) ++kinds[point.kind];
    for (const char* kind : {"mkdir", "create", "write", "flush", "rename", "sync", "read", "list"})
        EXPECT_GT(kinds[kind], 0) << "no " << kind << " among the operations";

    std::vector<std::string> failures;
    std::set<std::string> nextRuns;
    size_t cases = 0;
    for (const FileOperation& point : points) {
        const Cut cut = CutRun(point.number);
        ASSERT_TRUE(disk_->PowerCut()) << "the run reached operation " << point.number;
        // Every outcome is taken from the disk as the cut left it, before any of them is loaded.
        std::vector<std::pair<CutOutcome, DiskImage>> images;
        std::vector<std::vector<std::string>> mixed;
        for (const CutOutcome& outcome : test_support::AllCutOutcomes()) {
            images.emplace_back(outcome, disk_->Durable(outcome));
            mixed.push_back(disk_->NeitherOldNorNew(images.back().second));
        }
        for (size_t i = 0; i < images.size(); ++i) {
            ++cases;
            const auto& [outcome, image] = images[i];
            std::vector<std::string> problems = mixed[i];
            const std::vector<std::string> onDisk = DiskProblems(cut, image);
            problems.insert(problems.end(), onDisk.begin(), onDisk.end());
            // The same disk and card give the same next run.
            if (nextRuns.insert(Fingerprint(image, cut.cardState)).second) {
                const std::vector<std::string> after = NextRunProblems(cut);
                problems.insert(problems.end(), after.begin(), after.end());
            }
            for (const std::string& problem : problems)
                failures.push_back("cut at " + std::to_string(point.number) + " (" + point.kind + " " + point.path +
                                   "), " + outcome.Name() + ": " + problem);
        }
    }
    std::cout << points.size() << " operations x " << test_support::AllCutOutcomes().size() << " outcomes = " << cases
              << " cuts, " << nextRuns.size() << " distinct next runs\n";
    EXPECT_GE(points.size(), 50u);
    EXPECT_TRUE(failures.empty()) << failures.size() << " problems, the first:\n"
                                  << ::testing::PrintToString(std::vector<std::string>(
                                         failures.begin(), failures.begin() + std::min<size_t>(failures.size(), 20)));
}

INSTANTIATE_TEST_SUITE_P(BothKindsOfCard, PowerCut, ::testing::Values(CardKind::Q7k, CardKind::NeedsOverride),
                         KindName);

}  // namespace
